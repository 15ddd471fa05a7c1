import QtQuick
import QtQuick.Controls.Basic
import Orlune.Ui

// The window's button: bordered by default, filled with the tint when prominent.
Button {
    id: control
    property string iconSymbol: ""
    property bool prominent: false
    property bool borderless: false
    property string tip: ""
    readonly property color foreground: prominent ? Theme.accentText : Theme.text

    hoverEnabled: true
    padding: 8
    leftPadding: 12
    rightPadding: 12
    font.pointSize: Theme.pt(13)
    opacity: enabled ? 1 : 0.45
    ToolTip.visible: tip !== "" && hovered
    ToolTip.text: tip
    ToolTip.delay: 600
    Accessible.name: text

    contentItem: Row {
        spacing: 6
        Icon {
            anchors.verticalCenter: parent.verticalCenter
            visible: control.iconSymbol !== ""
            symbol: control.iconSymbol
            tint: control.foreground
            size: 15
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: control.text
            font: control.font
            color: control.foreground
        }
    }

    background: Rectangle {
        implicitHeight: 32
        radius: 8
        color: control.prominent ? (control.down ? Theme.accentPressed : Theme.accent)
                                 : (control.down ? Theme.accentSoft
                                                 : (control.hovered ? Theme.hover
                                                                    : (control.borderless ? "transparent" : Theme.card)))
        border.width: control.prominent || control.borderless ? 0 : 1
        border.color: Theme.cardBorder
        FocusRing { shown: control.visualFocus }
    }
}

import QtQuick
import QtQuick.Controls.Basic
import Orlune.Ui

// One line of the tray window.
AbstractButton {
    id: control
    property string iconSymbol: ""

    implicitHeight: 30
    hoverEnabled: true
    opacity: enabled ? 1 : 0.4
    Accessible.name: text

    background: Rectangle {
        radius: 6
        color: control.down ? Theme.accentSoft : (control.hovered && control.enabled ? Theme.hover : "transparent")
        FocusRing { shown: control.visualFocus; inset: true }
    }
    contentItem: Row {
        leftPadding: 8
        spacing: 9
        Icon {
            anchors.verticalCenter: parent.verticalCenter
            // An action without a symbol keeps its place, so every label starts at one x.
            symbol: control.iconSymbol
            tint: Theme.text
            size: 15
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: control.text
            color: Theme.text
            font.pointSize: Theme.pt(13)
        }
    }
}

import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orlune.Ui

// A page of the sidebar: tinted when selected, a soft tint while pressed.
AbstractButton {
    id: control
    property string iconSymbol: ""
    property string badge: ""
    property bool selected: false

    implicitHeight: 36
    hoverEnabled: true
    Accessible.name: badge === "" ? text : text + ", " + badge
    scale: down ? 0.99 : 1.0
    Behavior on scale { NumberAnimation { duration: 120; easing.type: Easing.OutQuad } }

    background: Rectangle {
        radius: 9
        color: control.down ? Theme.accentPressed
                            : (control.selected ? Theme.accentSoft : (control.hovered ? Theme.hover : "transparent"))
    }

    contentItem: RowLayout {
        spacing: 10
        Icon {
            symbol: control.iconSymbol
            tint: control.selected ? Theme.accent : Theme.text
            size: 17
            Layout.leftMargin: 10
        }
        Text {
            text: control.text
            color: control.selected ? Theme.accent : Theme.text
            font.pixelSize: 13
            font.weight: control.selected ? Font.DemiBold : Font.Normal
            elide: Text.ElideRight
            Layout.fillWidth: true
        }
        Badge {
            visible: control.badge !== ""
            text: control.badge
            Layout.rightMargin: 8
        }
    }
}

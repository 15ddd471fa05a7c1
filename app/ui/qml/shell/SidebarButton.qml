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
    Accessible.role: Accessible.PageTab
    Accessible.name: badge === "" ? text : text + ", " + badge
    Accessible.selectable: true
    Accessible.selected: selected
    Accessible.checkable: true
    Accessible.checked: selected
    scale: down ? 0.99 : 1.0
    Behavior on scale { NumberAnimation { duration: 120; easing.type: Easing.OutQuad } }

    background: Rectangle {
        radius: 9
        color: control.down || control.selected ? Theme.accentSoft : (control.hovered ? Theme.hover : "transparent")
        // The selected page is marked by shape as well as tint.
        Rectangle {
            visible: control.selected
            width: 3
            height: parent.height - 14
            radius: 1.5
            anchors.verticalCenter: parent.verticalCenter
            color: Theme.accent
        }
        FocusRing { shown: control.visualFocus; inset: true }
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
            color: Theme.text
            font.pointSize: Theme.pt(13)
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

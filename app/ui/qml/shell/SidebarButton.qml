import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orlune.Ui

// A page of the sidebar: tinted when selected, a soft tint while pressed.
// The focusable item is a plain one that carries the page-tab role: a stock button takes its
// own role back when accessibility starts. The button inside only takes the pointer.
Item {
    id: control
    property string text: ""
    property string iconSymbol: ""
    property string badge: ""
    property bool selected: false
    readonly property bool hovered: button.hovered
    readonly property bool down: button.down
    readonly property bool visualFocus: activeFocus
    signal clicked()

    implicitWidth: button.implicitWidth
    implicitHeight: 36
    activeFocusOnTab: true
    Accessible.role: Accessible.PageTab
    Accessible.name: badge === "" ? text : text + ", " + badge
    Accessible.focusable: true
    Accessible.focused: activeFocus
    Accessible.selectable: true
    Accessible.selected: selected
    Accessible.checkable: true
    Accessible.checked: selected
    Accessible.onPressAction: control.clicked()
    Keys.onPressed: event => {
        if (event.key === Qt.Key_Space || event.key === Qt.Key_Return || event.key === Qt.Key_Enter) {
            event.accepted = true
            control.clicked()
        }
    }
    scale: down ? 0.99 : 1.0
    Behavior on scale { NumberAnimation { duration: 120; easing.type: Easing.OutQuad } }

    AbstractButton {
        id: button
        anchors.fill: parent
        hoverEnabled: true
        focusPolicy: Qt.NoFocus
        Accessible.ignored: true
        onClicked: control.clicked()

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
}

import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orlune.Ui

// A labelled switch with an optional message and note under it. `on` is what the setting
// holds; the switch reports the user's choice through `switched` and then shows `on` again, so
// a change the setting refuses never stays on screen.
Item {
    id: row
    property string label: ""
    property bool on: false
    property string note: ""
    property string message: ""
    signal switched(bool checked)

    Layout.fillWidth: true
    implicitHeight: texts.y + texts.height

    Text {
        id: title
        anchors.left: parent.left
        anchors.right: toggle.left
        anchors.rightMargin: 12
        anchors.verticalCenter: toggle.verticalCenter
        text: row.label
        color: Theme.text
        font.pointSize: Theme.pt(13)
        wrapMode: Text.WordWrap
        opacity: row.enabled ? 1 : 0.45
    }
    Switch {
        id: toggle
        objectName: "switch"
        anchors.right: parent.right
        anchors.top: parent.top
        checked: row.on
        padding: 0
        Accessible.name: row.label
        // The knob sits inside the track; the off track is outlined in a control colour, so
        // both states read at 3:1 against the card.
        indicator: Rectangle {
            implicitWidth: 40
            implicitHeight: 22
            x: toggle.leftPadding
            y: (toggle.height - height) / 2
            radius: height / 2
            color: toggle.checked ? Theme.accent : Theme.card
            border.width: toggle.checked ? 0 : 1.5
            border.color: Theme.controlBorder
            Rectangle {
                width: 16
                height: 16
                radius: 8
                y: 3
                x: toggle.checked ? parent.width - width - 3 : 3
                color: toggle.checked ? Theme.accentText : Theme.controlBorder
                Behavior on x { NumberAnimation { duration: 120 } }
            }
            FocusRing { shown: toggle.visualFocus }
        }
        onToggled: {
            row.switched(checked)
            checked = Qt.binding(() => row.on)
        }
    }
    Column {
        id: texts
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: toggle.bottom
        anchors.topMargin: height > 0 ? 4 : 0
        spacing: 4
        Note {
            width: parent.width
            text: row.message
            warning: true
        }
        Note {
            width: parent.width
            text: row.note
        }
    }
}

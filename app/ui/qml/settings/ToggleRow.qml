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
        font.pixelSize: 13
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
        palette.dark: Theme.accent
        palette.midlight: Theme.cardBorder
        palette.mid: Theme.cardBorder
        palette.light: "#ffffff"
        Accessible.name: row.label
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

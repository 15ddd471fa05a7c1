import QtQuick
import QtQuick.Layouts
import Orlune.Ui

// A label on the left and its value on the right.
Item {
    id: row
    property string label: ""
    property string value: ""

    Layout.fillWidth: true
    implicitHeight: Math.max(name.implicitHeight, shown.implicitHeight)

    Text {
        id: name
        anchors.left: parent.left
        anchors.top: parent.top
        text: row.label
        color: Theme.secondaryText
        font.pointSize: Theme.pt(13)
    }
    Text {
        id: shown
        anchors.left: name.right
        anchors.leftMargin: 16
        anchors.right: parent.right
        anchors.top: parent.top
        text: row.value
        color: Theme.text
        font.pointSize: Theme.pt(13)
        horizontalAlignment: Text.AlignRight
        wrapMode: Text.WordWrap
    }
}

import QtQuick
import QtQuick.Layouts
import Orlune.Ui

// A page's title and subtitle, with room on the right for its controls.
RowLayout {
    id: header
    property string title: ""
    property string subtitle: ""
    default property alias controls: trailing.data

    spacing: 12

    ColumnLayout {
        spacing: 2
        Layout.fillWidth: true
        Text {
            text: header.title
            color: Theme.text
            Accessible.role: Accessible.Heading
            Accessible.name: text
            font.pointSize: Theme.pt(26)
            font.bold: true
        }
        Text {
            text: header.subtitle
            color: Theme.secondaryText
            font.pointSize: Theme.pt(13)
            visible: text !== ""
            elide: Text.ElideRight
            Layout.fillWidth: true
        }
    }
    Row {
        id: trailing
        spacing: 10
        Layout.alignment: Qt.AlignVCenter
    }
}

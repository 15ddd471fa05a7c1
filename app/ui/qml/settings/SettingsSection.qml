import QtQuick
import QtQuick.Layouts
import Orlune.Ui

// A titled group of settings on one card.
ColumnLayout {
    id: section
    property string title: ""
    default property alias rows: body.data

    spacing: 8

    Text {
        text: section.title
        color: Theme.secondaryText
        font.pointSize: Theme.pt(12)
        font.bold: true
        font.letterSpacing: 0.6
        Layout.leftMargin: 4
        Accessible.role: Accessible.Heading
    }
    Card {
        Layout.fillWidth: true
        implicitHeight: body.implicitHeight + 28
        ColumnLayout {
            id: body
            anchors.fill: parent
            anchors.margins: 14
            spacing: 12
        }
    }
}

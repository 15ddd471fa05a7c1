import QtQuick
import QtQuick.Layouts
import Orlune.Ui

// What the user should know about relays and IPv6, or why the catalog is missing.
Card {
    id: card
    required property HomeViewModel home

    implicitHeight: row.implicitHeight + 32

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.margins: 16
        spacing: 12
        Icon {
            symbol: card.home.noticeSymbol
            tint: Theme.orange
            size: 22
            Layout.alignment: Qt.AlignTop
        }
        ColumnLayout {
            spacing: 5
            Layout.fillWidth: true
            Text {
                text: card.home.noticeTitle
                color: Theme.text
                font.pointSize: Theme.pt(14)
                font.bold: true
            }
            // A column, not the layout: it places each paragraph by its wrapped height.
            Column {
                spacing: 6
                Layout.fillWidth: true
                Repeater {
                    model: card.home.noticeParagraphs
                    delegate: Text {
                        required property string modelData
                        width: parent.width
                        text: modelData
                        color: Theme.secondaryText
                        font.pointSize: Theme.pt(12)
                        wrapMode: Text.Wrap
                        lineHeight: 1.15
                    }
                }
            }
        }
    }
}

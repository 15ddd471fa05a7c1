import QtQuick
import QtQuick.Layouts
import Orlune.Ui

// The displayed relay: the active tunnel while connected, the selection otherwise.
Card {
    id: card
    required property HomeViewModel home

    implicitHeight: column.implicitHeight + 32

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 16
        spacing: 9
        Text {
            text: card.home.detailsHeading
            color: Theme.secondaryText
            font.pixelSize: 11
            font.bold: true
            font.letterSpacing: 1
            Layout.bottomMargin: 2
        }
        Repeater {
            model: card.home.detailRows
            delegate: RowLayout {
                id: detailRow
                required property var modelData
                spacing: 12
                Layout.fillWidth: true
                Text {
                    text: detailRow.modelData.label
                    color: Theme.secondaryText
                    font.pixelSize: 13
                }
                Text {
                    text: detailRow.modelData.value
                    color: Theme.text
                    font.pixelSize: 13
                    font.weight: Font.Medium
                    horizontalAlignment: Text.AlignRight
                    elide: Text.ElideMiddle
                    Layout.fillWidth: true
                }
            }
        }
        Text {
            visible: text !== ""
            text: card.home.detailsNote
            color: Theme.secondaryText
            font.pixelSize: 12
            font.italic: true
            wrapMode: Text.Wrap
            Layout.fillWidth: true
            Layout.topMargin: 4
        }
    }
}

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
            font.pointSize: Theme.pt(11)
            font.bold: true
            font.letterSpacing: 1
            Layout.bottomMargin: 2
        }
        // By count, not by list: the rows stay in place while their values change (the
        // duration every second), so a screen reader keeps its place.
        Repeater {
            model: card.home.detailRows.length
            delegate: RowLayout {
                id: detailRow
                required property int index
                readonly property var modelData: card.home.detailRows[index] ?? ({})
                objectName: "detailRow"
                spacing: 12
                Layout.fillWidth: true
                Accessible.role: Accessible.StaticText
                Accessible.name: modelData.label + ": " + modelData.value
                Text {
                    text: detailRow.modelData.label
                    color: Theme.secondaryText
                    font.pointSize: Theme.pt(13)
                }
                Text {
                    text: detailRow.modelData.value
                    color: detailRow.modelData.muted ? Theme.secondaryText : Theme.text
                    font.pointSize: Theme.pt(13)
                    font.weight: detailRow.modelData.muted ? Font.Normal : Font.Medium
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
            font.pointSize: Theme.pt(12)
            font.italic: true
            wrapMode: Text.Wrap
            Layout.fillWidth: true
            Layout.topMargin: 4
        }
    }
}

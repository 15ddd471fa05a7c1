import QtQuick
import QtQuick.Layouts
import Orlune.Ui

// One fact of the active tunnel: icon, label and value.
Card {
    id: tile
    property string symbol: ""
    property string label: ""
    property string value: ""

    implicitHeight: Math.max(100, column.implicitHeight + 32)
    Accessible.role: Accessible.StaticText
    Accessible.name: label + ": " + value

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 16
        spacing: 8
        RowLayout {
            spacing: 8
            Icon {
                symbol: tile.symbol
                tint: Theme.accent
                size: 18
            }
            Text {
                text: tile.label
                color: Theme.secondaryText
                font.pixelSize: 12
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
        }
        Text {
            text: tile.value
            color: Theme.text
            font.pixelSize: 16
            font.weight: Font.DemiBold
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
        }
        Item { Layout.fillHeight: true }
    }
}

import QtQuick
import QtQuick.Layouts
import Orlune.Ui

// One fact of the active tunnel: icon, label and value.
Card {
    id: tile
    property string symbol: ""
    property string label: ""
    property string value: ""
    property bool muted: false

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
                font.pointSize: Theme.pt(12)
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
        }
        Text {
            text: tile.value
            color: tile.muted ? Theme.secondaryText : Theme.text
            font.pointSize: Theme.pt(tile.muted ? 13 : 16)
            font.weight: tile.muted ? Font.Normal : Font.DemiBold
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
        }
        Item { Layout.fillHeight: true }
    }
}

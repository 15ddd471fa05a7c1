import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orlune.Ui

// One relay: the selection mark, name and country with badges, five metrics and the star.
AbstractButton {
    id: row
    property var entry: ({})
    signal favoriteToggled()

    implicitHeight: 64
    hoverEnabled: true
    rightPadding: 52
    ToolTip.visible: hovered && !star.hovered
    ToolTip.delay: 700
    ToolTip.text: entry.tooltip
    Accessible.name: entry.accessibleName

    background: Rectangle {
        radius: 10
        color: row.entry.selected ? Theme.accentSoft : (row.hovered ? Theme.hover : Theme.card)
        border.color: row.entry.selected ? Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.5) : Theme.cardBorder
        opacity: row.entry.available ? 1 : 0.75
    }

    contentItem: RowLayout {
        spacing: 14
        Item { implicitWidth: 2 }
        Icon {
            symbol: row.entry.markIcon
            tint: row.entry.selected ? Theme.accent : Theme.secondaryText
            size: 18
        }
        ColumnLayout {
            spacing: 3
            Layout.preferredWidth: 240
            Layout.minimumWidth: 120
            Layout.fillWidth: true
            Text {
                text: row.entry.name
                color: row.entry.available ? Theme.text : Theme.secondaryText
                font.pixelSize: 14
                font.weight: Font.DemiBold
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
            Row {
                spacing: 6
                Text {
                    text: row.entry.country
                    color: Theme.secondaryText
                    font.pixelSize: 11
                    anchors.verticalCenter: parent.verticalCenter
                }
                Repeater {
                    model: row.entry.badges
                    delegate: Badge {
                        id: rowBadge
                        required property string modelData
                        text: rowBadge.modelData
                        tint: rowBadge.modelData === "SELECTED" ? Theme.accent : Theme.orange
                        anchors.verticalCenter: parent.verticalCenter
                    }
                }
            }
        }
        Repeater {
            model: row.entry.metrics
            delegate: ColumnLayout {
                id: metric
                required property var modelData
                spacing: 2
                Layout.preferredWidth: 86
                Layout.minimumWidth: 86
                Layout.maximumWidth: 86
                Text {
                    text: metric.modelData.label
                    color: Theme.secondaryText
                    font.pixelSize: 10
                    elide: Text.ElideRight
                    Layout.fillWidth: true
                }
                Text {
                    text: metric.modelData.value
                    color: Theme.text
                    font.pixelSize: 12
                    font.weight: Font.Medium
                    elide: Text.ElideRight
                    Layout.fillWidth: true
                }
            }
        }
        Item { implicitWidth: 2 }
    }
    AbstractButton {
        id: star
        anchors.right: parent.right
        anchors.rightMargin: 12
        anchors.verticalCenter: parent.verticalCenter
        implicitWidth: 30
        implicitHeight: 30
        hoverEnabled: true
        ToolTip.visible: hovered
        ToolTip.delay: 500
        ToolTip.text: row.entry.favoriteTooltip
        Accessible.name: row.entry.favoriteAccessibleName
        onClicked: row.favoriteToggled()
        background: Rectangle {
            radius: 15
            color: star.hovered ? Theme.hover : "transparent"
        }
        contentItem: Icon {
            symbol: row.entry.favoriteIcon
            tint: row.entry.favorite ? "#f5b400" : Theme.secondaryText
            size: 17
        }
    }
}

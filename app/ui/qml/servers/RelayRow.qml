import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orlune.Ui

// One relay: the selection mark, name and country with badges, five metrics, and beside the
// row (not inside it) its star. Figures of a relay no longer listed are shown muted.
// The row itself, a plain item, is the list item a screen reader meets: a stock button would
// take its own role back when accessibility starts.
Item {
    id: row
    property var entry: ({})
    // The list's keyboard cursor is on this row (`body`) or on its star (`star`), or "".
    property string cursor: ""
    signal clicked()
    signal favoriteToggled()

    // Grows with the text (the desktop's text scaling) and the badges' lines.
    implicitHeight: Math.max(64, body.implicitHeight)

    Accessible.role: Accessible.ListItem
    Accessible.name: row.entry.accessibleName
    Accessible.selectable: true
    Accessible.selected: row.entry.selected === true
    Accessible.focused: row.cursor === "body"
    Accessible.onPressAction: row.clicked()

    // The width each metric needs to show its label and figure whole.
    FontMetrics { id: labelFont; font.pointSize: Theme.pt(11) }
    FontMetrics { id: valueFont; font.pointSize: Theme.pt(12); font.weight: Font.Medium }
    FontMetrics { id: nameFont; font.pointSize: Theme.pt(14); font.weight: Font.DemiBold }
    readonly property var metricNeeds: (row.entry.metrics || []).map(
        m => Math.ceil(Math.max(labelFont.advanceWidth(m.label), valueFont.advanceWidth(m.value))) + 4)
    // When the columns would cut a figure (large text, a narrow window), the metrics leave them
    // and wrap under the name as label and figure pairs.
    readonly property bool metricsWrapped: {
        const columns = metricNeeds.reduce((sum, need) => sum + need + 10, 0)
        const name = Math.min(nameFont.advanceWidth(row.entry.name || ""), nameFont.averageCharacterWidth * 16)
        // The row's padding, its star, the mark and the spacers around them.
        return columns + name + 52 + 18 + 4 + 40 > row.width
    }

    AbstractButton {
        id: body
        objectName: "relayRow"
        anchors.fill: parent
        hoverEnabled: true
        focusPolicy: Qt.NoFocus
        topPadding: 10
        bottomPadding: 10
        rightPadding: 52
        ToolTip.visible: hovered && !star.hovered
        ToolTip.delay: 700
        ToolTip.text: row.entry.tooltip
        Accessible.ignored: true
        onClicked: row.clicked()

        background: Rectangle {
            radius: 10
            color: row.entry.selected ? Theme.accentSoft : (body.hovered ? Theme.hover : Theme.card)
            border.color: row.entry.selected ? Theme.accent : Theme.cardBorder
            FocusRing { shown: row.cursor === "body"; inset: true }
        }

        contentItem: RowLayout {
            spacing: 10
            Item { implicitWidth: 2 }
            Icon {
                symbol: row.entry.markIcon
                tint: row.entry.selected ? Theme.accent : Theme.secondaryText
                size: 18
            }
            ColumnLayout {
                spacing: 3
                Layout.preferredWidth: 240
                Layout.minimumWidth: 110
                Layout.fillWidth: true
                Text {
                    text: row.entry.name
                    color: row.entry.available ? Theme.text : Theme.secondaryText
                    font.pointSize: Theme.pt(14)
                    font.weight: Font.DemiBold
                    elide: Text.ElideRight
                    Layout.fillWidth: true
                }
                Flow {
                    spacing: 6
                    Layout.fillWidth: true
                    Text {
                        text: row.entry.country
                        color: Theme.secondaryText
                        font.pointSize: Theme.pt(11)
                        width: Math.min(implicitWidth, parent.width)
                        elide: Text.ElideRight
                    }
                    Repeater {
                        model: row.entry.badges
                        delegate: Badge {
                            id: rowBadge
                            required property var modelData
                            text: rowBadge.modelData.text
                            tint: Theme.role(rowBadge.modelData.role)
                        }
                    }
                }
                Flow {
                    objectName: "wrappedMetrics"
                    visible: row.metricsWrapped
                    spacing: 14
                    Layout.fillWidth: true
                    Layout.topMargin: 2
                    Repeater {
                        model: row.metricsWrapped ? row.entry.metrics : []
                        delegate: Row {
                            id: pair
                            required property var modelData
                            spacing: 5
                            Text {
                                id: pairLabel
                                text: pair.modelData.label
                                color: Theme.secondaryText
                                font.pointSize: Theme.pt(11)
                            }
                            Text {
                                anchors.baseline: pairLabel.baseline
                                text: pair.modelData.value
                                color: row.entry.available ? Theme.text : Theme.secondaryText
                                font.pointSize: Theme.pt(12)
                                font.weight: row.entry.available ? Font.Medium : Font.Normal
                                font.italic: !row.entry.available
                            }
                        }
                    }
                }
                // What this relay did for the user, quietly: when it last worked, what it measured.
                Text {
                    objectName: "historyLine"
                    text: row.entry.historyLine || ""
                    visible: text !== ""
                    color: Theme.secondaryText
                    font.pointSize: Theme.pt(11)
                    wrapMode: Text.Wrap
                    Layout.fillWidth: true
                }
            }
            Repeater {
                model: row.entry.metrics
                delegate: ColumnLayout {
                    id: metric
                    required property var modelData
                    required property int index
                    visible: !row.metricsWrapped
                    spacing: 2
                    Layout.preferredWidth: Math.max(86, Layout.minimumWidth)
                    Layout.minimumWidth: row.metricNeeds[metric.index] ?? 58
                    Layout.maximumWidth: Layout.preferredWidth
                    Layout.fillWidth: true
                    Text {
                        text: metric.modelData.label
                        color: Theme.secondaryText
                        font.pointSize: Theme.pt(11)
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                    }
                    Text {
                        text: metric.modelData.value
                        color: row.entry.available ? Theme.text : Theme.secondaryText
                        font.pointSize: Theme.pt(12)
                        font.weight: row.entry.available ? Font.Medium : Font.Normal
                        font.italic: !row.entry.available
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                    }
                }
            }
            Item { implicitWidth: 2 }
        }
    }
    AbstractButton {
        id: star
        objectName: "star"
        anchors.right: parent.right
        anchors.rightMargin: 12
        anchors.verticalCenter: parent.verticalCenter
        implicitWidth: 30
        implicitHeight: 30
        hoverEnabled: true
        focusPolicy: Qt.NoFocus
        ToolTip.visible: hovered
        ToolTip.delay: 500
        ToolTip.text: row.entry.favoriteTooltip
        Accessible.role: Accessible.CheckBox
        Accessible.name: row.entry.favoriteAccessibleName
        Accessible.checkable: true
        Accessible.checked: row.entry.favorite === true
        Accessible.focused: row.cursor === "star"
        onClicked: row.favoriteToggled()
        background: Rectangle {
            radius: 15
            color: star.hovered ? Theme.hover : "transparent"
            FocusRing { shown: row.cursor === "star"; inset: true }
        }
        contentItem: Icon {
            symbol: row.entry.favoriteIcon
            tint: row.entry.favorite ? Theme.star : Theme.secondaryText
            size: 17
        }
    }
}

import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orlune.Ui

// The live facts of the active tunnel.
Item {
    id: page
    required property Shell shell

    StatisticsViewModel {
        id: vm
        shell: page.shell
    }

    ScrollView {
        id: scroll
        anchors.fill: parent
        contentWidth: availableWidth

        ColumnLayout {
            width: Math.min(scroll.availableWidth - 2 * Theme.pagePadding, Theme.pageMaxWidth)
            x: (scroll.availableWidth - width) / 2
            spacing: 18

            Item { implicitHeight: Theme.pagePadding - 18 }

            PageHeader {
                title: "Statistics"
                subtitle: vm.subtitle
                Layout.fillWidth: true
            }

            GridLayout {
                columns: width > 560 ? 3 : 2
                columnSpacing: 12
                rowSpacing: 12
                Layout.fillWidth: true
                Repeater {
                    model: vm.tileCount
                    delegate: StatTile {
                        required property int index
                        readonly property var entry: vm.tiles[index]
                        symbol: entry.symbol
                        label: entry.label
                        value: entry.value
                        muted: entry.muted
                        Layout.fillWidth: true
                        Layout.fillHeight: true
                        Layout.preferredWidth: 1
                    }
                }
            }

            Text {
                text: vm.historyNote
                color: Theme.secondaryText
                font.pointSize: Theme.pt(12)
                wrapMode: Text.WordWrap
                Layout.fillWidth: true
            }
        }
    }
}

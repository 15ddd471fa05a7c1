import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orlune.Ui

// Guidance, outside links and the safe diagnostics.
Item {
    id: page
    required property Shell shell

    HelpViewModel {
        id: vm
        shell: page.shell
    }

    KeepFocusVisible { flickable: scroll.contentItem as Flickable }

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
                title: "Help & Support"
                subtitle: "Connection guidance and safe diagnostics for this development build."
                Layout.fillWidth: true
            }

            Repeater {
                model: vm.cards
                delegate: Card {
                    id: helpCard
                    required property var modelData
                    Layout.fillWidth: true
                    implicitHeight: cardRow.implicitHeight + 32
                    RowLayout {
                        id: cardRow
                        anchors.fill: parent
                        anchors.margins: 16
                        spacing: 14
                        Icon {
                            symbol: helpCard.modelData.symbol
                            tint: Theme.accent
                            size: 22
                            Layout.alignment: Qt.AlignTop
                        }
                        ColumnLayout {
                            spacing: 4
                            Layout.fillWidth: true
                            Text {
                                text: helpCard.modelData.title
                                color: Theme.text
                                font.pointSize: Theme.pt(14)
                                font.weight: Font.DemiBold
                                Layout.fillWidth: true
                            }
                            Text {
                                text: helpCard.modelData.text
                                color: Theme.secondaryText
                                font.pointSize: Theme.pt(13)
                                wrapMode: Text.WordWrap
                                lineHeight: 1.1
                                Layout.fillWidth: true
                            }
                        }
                    }
                }
            }

            Flow {
                spacing: 18
                Layout.fillWidth: true
                Repeater {
                    model: vm.links
                    delegate: LinkButton {
                        required property var modelData
                        required property int index
                        text: modelData.title
                        onClicked: vm.openLink(index)
                    }
                }
            }

            Card {
                Layout.fillWidth: true
                implicitHeight: diagnostics.implicitHeight + 32
                ColumnLayout {
                    id: diagnostics
                    anchors.fill: parent
                    anchors.margins: 16
                    spacing: 12
                    Text {
                        text: "Diagnostics"
                        color: Theme.text
                        font.pointSize: Theme.pt(14)
                        font.weight: Font.DemiBold
                    }
                    Text {
                        text: vm.diagnosticsNote
                        color: Theme.secondaryText
                        font.pointSize: Theme.pt(13)
                        wrapMode: Text.WordWrap
                        Layout.fillWidth: true
                    }
                    PlainButton {
                        objectName: "copyDiagnostics"
                        text: vm.copyLabel
                        iconSymbol: vm.copySymbol
                        onClicked: vm.copyDiagnostics()
                    }
                }
            }

            Item { implicitHeight: Theme.pagePadding - 18 }
        }
    }
}

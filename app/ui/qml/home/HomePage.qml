import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orlune.Ui

// The connection dashboard.
Item {
    id: page
    required property Shell shell

    HomeViewModel {
        id: vm
        shell: page.shell
    }

    KeepFocusVisible { flickable: scroll.contentItem as Flickable }

    ScrollView {
        id: scroll
        anchors.fill: parent
        contentWidth: availableWidth

        ColumnLayout {
            id: column
            width: Math.min(scroll.availableWidth - 2 * Theme.pagePadding, Theme.pageMaxWidth)
            x: (scroll.availableWidth - width) / 2
            spacing: 16

            Item { implicitHeight: Theme.pagePadding - 16 }

            PageHeader {
                title: "Home"
                subtitle: "Your connection at a glance"
                Layout.fillWidth: true
                PlainButton {
                    text: vm.refreshLabel
                    iconSymbol: "arrow.clockwise"
                    enabled: vm.refreshEnabled
                    onClicked: vm.refresh()
                }
            }

            StatusBanner {
                home: vm
                Layout.fillWidth: true
            }

            FailureCard {
                home: vm
                visible: vm.showFailureCard
                Layout.fillWidth: true
            }

            ColumnLayout {
                spacing: 10
                Layout.fillWidth: true
                Layout.preferredWidth: column.width
                Layout.topMargin: 4

                Emblem {
                    mode: vm.emblemMode
                    symbol: vm.emblemSymbol
                    statusColor: Theme.role(vm.statusColor)
                    Layout.alignment: Qt.AlignHCenter
                }

                Button {
                    id: mainButton
                    objectName: "mainButton"
                    text: vm.mainButtonLabel
                    enabled: vm.mainButtonEnabled
                    hoverEnabled: true
                    Layout.alignment: Qt.AlignHCenter
                    Layout.topMargin: 6
                    ToolTip.visible: hovered
                    ToolTip.delay: 500
                    ToolTip.text: vm.mainButtonTooltip
                    Accessible.name: text
                    Accessible.description: enabled ? vm.mainButtonTooltip : vm.mainButtonReason
                    onClicked: vm.mainAction()
                    contentItem: Text {
                        text: mainButton.text
                        color: mainButton.enabled ? Theme.accentText : Theme.secondaryText
                        font.pointSize: Theme.pt(14)
                        font.bold: true
                        font.letterSpacing: 0.6
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                    }
                    background: Rectangle {
                        implicitWidth: 205
                        implicitHeight: 46
                        radius: 13
                        color: mainButton.enabled ? (mainButton.down ? Theme.accentPressed : Theme.accent)
                                                  : Theme.hover
                        border.width: mainButton.enabled ? 0 : 1
                        border.color: Theme.cardBorder
                        FocusRing { shown: mainButton.visualFocus }
                    }
                }
                // A disabled button gets no hover, so its reason is written out under it.
                Text {
                    objectName: "mainButtonReason"
                    visible: text !== ""
                    text: vm.mainButtonReason
                    color: Theme.secondaryText
                    font.pointSize: Theme.pt(12)
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.Wrap
                    Layout.fillWidth: true
                }

                Text {
                    visible: text !== ""
                    text: vm.progressText
                    color: Theme.orange
                    font.pointSize: Theme.pt(13)
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.Wrap
                    Layout.fillWidth: true
                }
                Text {
                    visible: text !== ""
                    text: vm.readyCaption
                    color: Theme.green
                    font.pointSize: Theme.pt(11)
                    font.bold: true
                    font.letterSpacing: 1
                    Layout.alignment: Qt.AlignHCenter
                }
                Text {
                    visible: text !== ""
                    text: vm.selectionNote
                    color: Theme.secondaryText
                    font.pointSize: Theme.pt(12)
                    Layout.alignment: Qt.AlignHCenter
                }
                Row {
                    spacing: 10
                    Layout.alignment: Qt.AlignHCenter
                    Layout.topMargin: 4
                    PlainButton {
                        text: "Browse Servers"
                        iconSymbol: "server.rack"
                        onClicked: vm.browseServers()
                    }
                    PlainButton {
                        visible: vm.showQuickConnect
                        enabled: vm.quickConnectEnabled
                        text: "Quick Connect"
                        iconSymbol: "bolt.fill"
                        onClicked: vm.quickConnect()
                    }
                }
            }

            CountryPicker {
                home: vm
                Layout.fillWidth: true
                Layout.topMargin: 6
            }

            GridLayout {
                columns: column.width > 720 ? 2 : 1
                columnSpacing: 16
                rowSpacing: 16
                Layout.fillWidth: true
                DetailsCard {
                    home: vm
                    Layout.fillWidth: true
                    Layout.alignment: Qt.AlignTop
                    Layout.preferredWidth: 1
                }
                NoticeCard {
                    home: vm
                    Layout.fillWidth: true
                    Layout.alignment: Qt.AlignTop
                    Layout.preferredWidth: 1
                }
            }

            Item { implicitHeight: Theme.pagePadding - 16 }
        }
    }
}

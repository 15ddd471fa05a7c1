import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orlune.Ui

// The stored preferences, launch at login and notifications. Every change applies at once.
Item {
    id: page
    required property Shell shell

    SettingsViewModel {
        id: vm
        shell: page.shell
    }
    LaunchAtLoginController {
        id: login
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
            spacing: 22

            Item { implicitHeight: Theme.pagePadding - 22 }

            PageHeader {
                title: "Settings"
                Layout.fillWidth: true
            }

            SettingsSection {
                title: "General"
                Layout.fillWidth: true

                ToggleRow {
                    objectName: "launchAtLogin"
                    label: "Launch at Login"
                    on: login.isEnabled
                    message: login.message
                    onSwitched: checked => login.setEnabled(checked)
                }
                PlainButton {
                    visible: login.requiresApproval
                    text: login.reviewButtonText
                    onClicked: login.openSystemSettings()
                }
                ToggleRow {
                    label: "Connect on Launch"
                    on: vm.connectOnLaunch
                    note: vm.connectOnLaunchNote
                    onSwitched: checked => vm.connectOnLaunch = checked
                }
                ToggleRow {
                    label: "Auto Reconnect after Internet Returns"
                    on: vm.autoReconnect
                    note: vm.autoReconnectNote
                    onSwitched: checked => vm.autoReconnect = checked
                }
                ToggleRow {
                    objectName: "notifications"
                    label: "Connection Notifications"
                    on: vm.notificationsEnabled
                    message: vm.notificationMessage
                    onSwitched: checked => vm.notificationsEnabled = checked
                }
                ToggleRow {
                    label: "Refresh Catalog Automatically"
                    on: vm.automaticRefresh
                    onSwitched: checked => vm.automaticRefresh = checked
                }
                RowLayout {
                    spacing: 12
                    Layout.fillWidth: true
                    Text {
                        text: "Refresh Interval"
                        color: Theme.text
                        font.pointSize: Theme.pt(13)
                        opacity: vm.refreshIntervalEnabled ? 1 : 0.45
                        Layout.fillWidth: true
                    }
                    Choice {
                        id: interval
                        objectName: "refreshInterval"
                        model: vm.refreshIntervalLabels
                        currentIndex: vm.refreshIntervalIndex
                        enabled: vm.refreshIntervalEnabled
                        Layout.preferredWidth: 160
                        Accessible.name: "Refresh Interval"
                        onActivated: index => {
                            vm.refreshIntervalIndex = index
                            currentIndex = Qt.binding(() => vm.refreshIntervalIndex)
                        }
                    }
                }
            }

            SettingsSection {
                title: "VPN"
                Layout.fillWidth: true

                ToggleRow {
                    objectName: "blockOutsideVPN"
                    label: "Block traffic outside the VPN"
                    on: vm.blockOutsideVPN
                    note: "From Connect until you disconnect or quit, nothing leaves this computer except the relay being tried and the tunnel: also while connecting, between relays, after a failed attempt and after a drop."
                    onSwitched: checked => vm.blockOutsideVPN = checked
                }
                ToggleRow {
                    objectName: "allowLocalNetwork"
                    label: "Allow local network"
                    on: vm.allowLocalNetwork
                    enabled: vm.allowLocalNetworkEnabled
                    note: "Printers, file shares and other devices on private networks stay reachable while traffic is blocked."
                    onSwitched: checked => vm.allowLocalNetwork = checked
                }
                ToggleRow {
                    objectName: "blockIPv6"
                    label: "Block IPv6 while connected"
                    on: vm.blockIPv6
                    note: "Relays carry IPv4 only. When on, no IPv6 leaves this computer while a tunnel is up, except on the local link."
                    onSwitched: checked => vm.blockIPv6 = checked
                }
                ToggleRow {
                    objectName: "measureThroughput"
                    label: "Measure speed after connecting"
                    on: vm.measureThroughput
                    note: "A short download through each new tunnel (at most 4 MB or 4 seconds) shows what the relay really delivers. It uses the volunteer's bandwidth, so it is off unless you turn it on. The round trip is always measured with a few small requests."
                    onSwitched: checked => vm.measureThroughput = checked
                }
                ToggleRow {
                    objectName: "offerRecentlyWorked"
                    label: "Offer relays that worked recently"
                    on: vm.offerRecentlyWorked
                    note: "Relays that worked for you in the last 7 days but have left the catalog are listed at the end of Servers, to connect with the profile they worked with. Nothing connects to them unless you ask."
                    onSwitched: checked => vm.offerRecentlyWorked = checked
                }

                Repeater {
                    model: vm.vpnRows
                    delegate: ValueRow {
                        required property var modelData
                        label: modelData.label
                        value: modelData.value
                    }
                }
                Repeater {
                    model: vm.vpnNotes
                    delegate: Note {
                        required property string modelData
                        text: modelData
                    }
                }
            }

            SettingsSection {
                title: "Server Quality"
                Layout.fillWidth: true

                Repeater {
                    model: vm.stepperKeys
                    delegate: StepperRow {
                        id: stepperRow
                        required property string modelData
                        required property int index
                        readonly property var entry: vm.steppers[index]
                        objectName: "stepper-" + modelData
                        label: entry.label
                        canDecrease: entry.canDecrease
                        canIncrease: entry.canIncrease
                        onStepped: direction => vm.step(stepperRow.modelData, direction)
                    }
                }
                Note {
                    text: vm.serverQualityNote
                }
            }

            SettingsSection {
                title: "Appearance"
                Layout.fillWidth: true

                RowLayout {
                    spacing: 12
                    Layout.fillWidth: true
                    Text {
                        text: "Appearance"
                        color: Theme.text
                        font.pointSize: Theme.pt(13)
                        Layout.fillWidth: true
                    }
                    Choice {
                        objectName: "appearance"
                        model: vm.appearanceOptions
                        currentIndex: vm.appearanceIndex
                        Layout.preferredWidth: 160
                        Accessible.name: "Appearance"
                        onActivated: index => {
                            vm.appearanceIndex = index
                            currentIndex = Qt.binding(() => vm.appearanceIndex)
                        }
                    }
                }
            }

            CatalogSection {
                shell: page.shell
                Layout.fillWidth: true
            }

            SettingsSection {
                title: "Privacy"
                Layout.fillWidth: true

                Text {
                    text: vm.privacyText
                    color: Theme.text
                    font.pointSize: Theme.pt(13)
                    wrapMode: Text.WordWrap
                    Layout.fillWidth: true
                }
            }

            Item { implicitHeight: Theme.pagePadding - 22 }
        }
    }
}

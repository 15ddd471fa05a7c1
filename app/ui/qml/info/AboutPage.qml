import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orlune.Ui

// The app's name and version, links, and the legal documents.
Item {
    id: page
    required property Shell shell

    AboutViewModel {
        id: vm
        objectName: "about"
        shell: page.shell
    }

    KeepFocusVisible { flickable: scroll.contentItem as Flickable }

    ScrollView {
        id: scroll
        anchors.fill: parent
        contentWidth: availableWidth

        ColumnLayout {
            width: Math.min(scroll.availableWidth - 2 * Theme.pagePadding, 440)
            x: (scroll.availableWidth - width) / 2
            spacing: 14

            Item { implicitHeight: Math.max(24, scroll.availableHeight * 0.08) }

            Rectangle {
                Layout.alignment: Qt.AlignHCenter
                implicitWidth: 84
                implicitHeight: 84
                radius: 22
                color: Theme.accentSoft
                Icon {
                    anchors.centerIn: parent
                    symbol: "shield.lefthalf.filled"
                    tint: Theme.accent
                    size: 46
                }
            }
            Text {
                text: "Orlune VPN"
                color: Theme.text
                font.pointSize: Theme.pt(28)
                font.bold: true
                Layout.alignment: Qt.AlignHCenter
            }
            Text {
                objectName: "version"
                text: vm.versionText
                color: Theme.secondaryText
                font.pointSize: Theme.pt(13)
                Layout.alignment: Qt.AlignHCenter
            }
            Text {
                text: vm.ownershipText
                color: Theme.text
                font.pointSize: Theme.pt(13)
                wrapMode: Text.WordWrap
                horizontalAlignment: Text.AlignHCenter
                Layout.fillWidth: true
                Layout.topMargin: 6
            }
            Row {
                spacing: 18
                Layout.alignment: Qt.AlignHCenter
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
            Text {
                text: vm.updatesText
                color: Theme.secondaryText
                font.pointSize: Theme.pt(12)
                wrapMode: Text.WordWrap
                horizontalAlignment: Text.AlignHCenter
                Layout.fillWidth: true
            }
            Row {
                spacing: 10
                Layout.alignment: Qt.AlignHCenter
                Layout.topMargin: 4
                PlainButton {
                    objectName: "privacyButton"
                    text: "Privacy Policy"
                    iconSymbol: "doc.text"
                    onClicked: vm.showDocument("privacy")
                }
                PlainButton {
                    objectName: "termsButton"
                    text: "Terms & Conditions"
                    iconSymbol: "doc.text"
                    onClicked: vm.showDocument("terms")
                }
            }
        }
    }

    LegalSheet {
        about: vm
    }
}

import QtQuick
import QtQuick.Layouts
import Orlune.Ui

// The brand, the seven pages with their badges, and the catalog's status.
Rectangle {
    id: sidebar
    required property Shell shell

    color: Theme.sidebar

    Rectangle {
        anchors.right: parent.right
        width: 1
        height: parent.height
        color: Theme.cardBorder
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 14
        anchors.topMargin: 20
        spacing: 4

        RowLayout {
            spacing: 10
            Layout.bottomMargin: 18
            Layout.leftMargin: 6
            Rectangle {
                implicitWidth: 38
                implicitHeight: 38
                radius: 10
                gradient: Gradient {
                    GradientStop { position: 0.0; color: "#ff9500" }
                    GradientStop { position: 1.0; color: Qt.rgba(0.95, 0.34, 0.14, 1) }
                }
                Icon {
                    anchors.centerIn: parent
                    symbol: "shield.lefthalf.filled"
                    tint: "white"
                    size: 22
                }
            }
            Column {
                Text {
                    text: "Orlune"
                    color: Theme.text
                    font.pointSize: Theme.pt(15)
                    font.bold: true
                }
                Text {
                    text: "VPN"
                    color: Theme.secondaryText
                    font.pointSize: Theme.pt(11)
                    font.weight: Font.DemiBold
                }
            }
        }

        // By count: the buttons stay while the pages' badges and selection change, so the one
        // with the keyboard focus keeps it.
        Repeater {
            model: sidebar.shell.pages.length
            delegate: SidebarButton {
                id: pageButton
                required property int index
                readonly property var modelData: sidebar.shell.pages[index]
                objectName: "page-" + modelData.title
                Layout.fillWidth: true
                text: modelData.title
                iconSymbol: modelData.icon
                badge: modelData.badge
                selected: modelData.selected
                onClicked: sidebar.shell.setPage(pageButton.modelData.title)
            }
        }

        Item { Layout.fillHeight: true }

        // Without a tray the small status window is reached from here.
        SidebarButton {
            Layout.fillWidth: true
            visible: !sidebar.shell.trayAvailable
            text: "Quick Menu"
            iconSymbol: "shield.lefthalf.filled"
            onClicked: sidebar.shell.openMenuWindow()
        }

        RowLayout {
            spacing: 8
            Layout.leftMargin: 8
            Layout.topMargin: 6
            Layout.bottomMargin: 4
            Rectangle {
                implicitWidth: 7
                implicitHeight: 7
                radius: 3.5
                color: Theme.role(sidebar.shell.catalogStatusColor)
            }
            Text {
                text: sidebar.shell.catalogStatusText
                color: Theme.secondaryText
                font.pointSize: Theme.pt(12)
            }
        }
    }
}

import QtQuick
import QtQuick.Layouts
import Orlune.Ui

// The small window of the tray icon: the status, the primary actions, refresh, open, quit.
Window {
    id: root
    required property Shell shell

    title: "Orlune VPN"
    flags: Qt.Tool | Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint
    width: 300
    height: content.implicitHeight + 24
    visible: false
    color: Theme.card

    // It closes like a menu: when it loses focus, or on Escape.
    onActiveChanged: if (!active && visible) root.hide()

    MenuViewModel {
        id: menu
        shell: root.shell
    }

    Rectangle {
        anchors.fill: parent
        color: "transparent"
        border.color: Theme.cardBorder
        border.width: 1
    }

    Shortcut {
        sequence: "Escape"
        onActivated: root.hide()
    }

    ColumnLayout {
        id: content
        anchors.fill: parent
        anchors.margins: 12
        spacing: 4

        RowLayout {
            spacing: 8
            Layout.leftMargin: 6
            Icon {
                symbol: "shield.lefthalf.filled"
                tint: Theme.accent
                size: 18
            }
            Text {
                text: "Orlune VPN"
                color: Theme.text
                font.pixelSize: 15
                font.bold: true
            }
        }
        Text {
            text: menu.statusLine
            color: Theme.text
            font.pixelSize: 13
            wrapMode: Text.Wrap
            Layout.fillWidth: true
            Layout.leftMargin: 6
            Layout.topMargin: 4
        }
        Text {
            visible: text !== ""
            text: menu.captionLine
            color: Theme.secondaryText
            font.pixelSize: 11
            elide: Text.ElideRight
            Layout.fillWidth: true
            Layout.leftMargin: 6
        }
        Rectangle { implicitHeight: 1; color: Theme.cardBorder; Layout.fillWidth: true; Layout.topMargin: 6; Layout.bottomMargin: 4 }

        MenuAction {
            visible: menu.showConnect
            enabled: menu.connectEnabled
            text: "Connect"
            iconSymbol: "bolt.fill"
            Layout.fillWidth: true
            onClicked: menu.connectSelected()
        }
        MenuAction {
            visible: menu.showConnect
            enabled: menu.quickConnectEnabled
            text: "Quick Connect"
            iconSymbol: "bolt.circle"
            Layout.fillWidth: true
            onClicked: menu.quickConnect()
        }
        MenuAction {
            visible: !menu.showConnect
            enabled: menu.disconnectEnabled
            text: "Disconnect"
            iconSymbol: "power"
            Layout.fillWidth: true
            onClicked: menu.disconnectVpn()
        }
        MenuAction {
            enabled: menu.refreshEnabled
            text: "Refresh Servers"
            iconSymbol: "arrow.clockwise"
            Layout.fillWidth: true
            onClicked: menu.refresh()
        }
        MenuAction {
            text: "Open Orlune VPN"
            iconSymbol: "macwindow"
            Layout.fillWidth: true
            onClicked: {
                root.hide()
                menu.openMainWindow()
            }
        }
        Rectangle { implicitHeight: 1; color: Theme.cardBorder; Layout.fillWidth: true; Layout.topMargin: 4; Layout.bottomMargin: 4 }
        MenuAction {
            text: "Quit Orlune VPN"
            Layout.fillWidth: true
            onClicked: menu.quit()
        }
    }
}

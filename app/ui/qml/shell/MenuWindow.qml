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

    // It closes like a menu: when it loses focus, or on Escape. Opened, the keyboard starts at
    // its first action; the arrow keys move like Tab.
    onActiveChanged: if (!active && visible) root.hide()
    onVisibleChanged: if (visible) content.nextItemInFocusChain(true).forceActiveFocus(Qt.TabFocusReason)

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
        Keys.onDownPressed: root.activeFocusItem.nextItemInFocusChain(true).forceActiveFocus(Qt.TabFocusReason)
        Keys.onUpPressed: root.activeFocusItem.nextItemInFocusChain(false).forceActiveFocus(Qt.BacktabFocusReason)

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
                font.pointSize: Theme.pt(15)
                font.bold: true
            }
        }
        Text {
            text: menu.statusLine
            color: Theme.text
            font.pointSize: Theme.pt(13)
            wrapMode: Text.Wrap
            Layout.fillWidth: true
            Layout.leftMargin: 6
            Layout.topMargin: 4
        }
        Text {
            visible: text !== ""
            text: menu.captionLine
            color: Theme.secondaryText
            font.pointSize: Theme.pt(11)
            elide: Text.ElideRight
            Layout.fillWidth: true
            Layout.leftMargin: 6
        }
        Rectangle { implicitHeight: 1; color: Theme.cardBorder; Layout.fillWidth: true; Layout.topMargin: 6; Layout.bottomMargin: 4 }

        MenuAction {
            visible: menu.showConnect
            enabled: menu.connectEnabled
            objectName: "menuConnect"
            text: "Connect"
            iconSymbol: "bolt.fill"
            Layout.fillWidth: true
            onClicked: menu.connectSelected()
        }
        MenuAction {
            visible: menu.showConnect
            enabled: menu.quickConnectEnabled
            objectName: "menuQuickConnect"
            text: "Quick Connect"
            iconSymbol: "bolt.circle"
            Layout.fillWidth: true
            onClicked: menu.quickConnect()
        }
        MenuAction {
            visible: !menu.showConnect
            enabled: menu.disconnectEnabled
            objectName: "menuDisconnect"
            text: "Disconnect"
            iconSymbol: "power"
            Layout.fillWidth: true
            onClicked: menu.disconnectVpn()
        }
        MenuAction {
            enabled: menu.refreshEnabled
            objectName: "menuRefresh"
            text: "Refresh Servers"
            iconSymbol: "arrow.clockwise"
            Layout.fillWidth: true
            onClicked: menu.refresh()
        }
        MenuAction {
            objectName: "menuOpen"
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
            objectName: "menuQuit"
            text: "Quit Orlune VPN"
            Layout.fillWidth: true
            onClicked: menu.quit()
        }
    }
}

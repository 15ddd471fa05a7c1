import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orlune.Ui

ApplicationWindow {
    id: root
    required property Shell shell

    title: "Orlune VPN"
    width: 1120
    height: 780
    minimumWidth: 940
    minimumHeight: 660
    visible: false
    color: Theme.background
    palette.window: Theme.background
    palette.windowText: Theme.text
    palette.base: Theme.field
    palette.text: Theme.text
    palette.button: Theme.card
    palette.buttonText: Theme.text
    palette.highlight: Theme.accent
    palette.highlightedText: Theme.accentText
    palette.toolTipBase: Theme.card
    palette.toolTipText: Theme.text
    palette.placeholderText: Theme.secondaryText
    // The roles the stock pop-ups, menus, scroll bars and spinners draw with: a highlighted
    // entry on the hover tint under the normal text, outlines and marks in control colours.
    palette.light: Theme.hover
    palette.midlight: Theme.hover
    palette.mid: Theme.controlBorder
    palette.dark: Theme.secondaryText
    palette.shadow: "#000000"
    palette.alternateBase: Theme.field
    palette.link: Theme.accent

    // The desktop's conventions: quit, close the window, find a server, refresh, and the pages by
    // their place in the sidebar.
    MenuViewModel {
        id: actions
        shell: root.shell
    }
    Shortcut {
        sequences: [StandardKey.Quit]
        context: Qt.ApplicationShortcut
        onActivated: root.shell.quit()
    }
    Shortcut {
        sequences: [StandardKey.Close]
        onActivated: root.close()
    }
    Shortcut {
        sequences: [StandardKey.Find]
        onActivated: {
            if (root.shell.screen !== "servers" && root.shell.screen !== "favorites") root.shell.setPage("Servers")
            const page = detail.item as ServersPage
            if (page) page.focusSearch()
        }
    }
    Shortcut {
        sequences: ["Ctrl+R", StandardKey.Refresh]
        onActivated: actions.refresh()
    }
    Repeater {
        model: 7
        delegate: Item {
            id: pageKey
            required property int index
            Shortcut {
                sequence: "Ctrl+" + (pageKey.index + 1)
                onActivated: root.shell.setPage(root.shell.pages[pageKey.index].title)
            }
        }
    }

    Binding {
        target: Theme
        property: "dark"
        value: root.shell.dark
    }
    Binding {
        target: Theme
        property: "textScale"
        value: root.shell.textScale
    }

    RowLayout {
        anchors.fill: parent
        spacing: 0

        Sidebar {
            shell: root.shell
            Layout.fillHeight: true
            Layout.preferredWidth: 236
        }

        Loader {
            id: detail
            objectName: "detail"
            Layout.fillWidth: true
            Layout.fillHeight: true

            // A new page for every change: screen-local state (sort, collapsed countries, the
            // settings' messages, the copied diagnostics) starts afresh.
            // Pages change with a short ease-in-out fade.
            onLoaded: fadeIn.restart()
            NumberAnimation {
                id: fadeIn
                target: detail.item
                property: "opacity"
                from: 0
                to: 1
                duration: 180
                easing.type: Easing.InOutQuad
            }

            function show(screen: string) {
                switch (screen) {
                case "servers":
                    setSource("servers/ServersPage.qml", { shell: root.shell, favoritesOnly: false })
                    break
                case "favorites":
                    setSource("servers/ServersPage.qml", { shell: root.shell, favoritesOnly: true })
                    break
                case "statistics":
                    setSource("info/StatisticsPage.qml", { shell: root.shell })
                    break
                case "settings":
                    setSource("settings/SettingsPage.qml", { shell: root.shell })
                    break
                case "help":
                    setSource("info/HelpPage.qml", { shell: root.shell })
                    break
                case "about":
                    setSource("info/AboutPage.qml", { shell: root.shell })
                    break
                default:
                    setSource("home/HomePage.qml", { shell: root.shell })
                }
            }
        }
    }

    Connections {
        target: root.shell
        function onPageChanged() { detail.show(root.shell.screen) }
    }
    Component.onCompleted: detail.show(root.shell.screen)
}

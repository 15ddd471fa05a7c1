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

    Binding {
        target: Theme
        property: "dark"
        value: root.shell.dark
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

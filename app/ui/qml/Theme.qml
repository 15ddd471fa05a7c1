pragma Singleton
import QtQuick

// Colours and sizes of the window. `dark` follows the shell's appearance.
QtObject {
    property bool dark: false

    readonly property color accent: Qt.rgba(0.96, 0.36, 0.12, 1)
    readonly property color accentSoft: Qt.rgba(0.96, 0.36, 0.12, dark ? 0.22 : 0.14)
    readonly property color accentPressed: Qt.rgba(0.96, 0.36, 0.12, 0.20)
    readonly property color background: dark ? "#1c1c20" : "#f6f4f2"
    readonly property color sidebar: dark ? "#25252a" : "#ece8e4"
    readonly property color card: dark ? "#2b2b31" : "#ffffff"
    readonly property color cardBorder: dark ? "#3b3b42" : "#e3ddd7"
    readonly property color hover: dark ? "#34343b" : "#f1ece8"
    readonly property color field: dark ? "#222227" : "#f8f6f4"
    readonly property color text: dark ? "#f2f2f5" : "#1d1d1f"
    readonly property color secondaryText: dark ? "#a3a3ab" : "#66666c"
    readonly property color green: dark ? "#34c759" : "#1e9b3b"
    readonly property color orange: dark ? "#ff9f0a" : "#dc6a05"
    readonly property color yellow: dark ? "#ffd60a" : "#b89200"
    readonly property color blue: dark ? "#5aa0ff" : "#2f6fde"
    readonly property color accentText: "#ffffff"

    readonly property int radius: 12
    readonly property int pagePadding: 28

    // The colour of a role named by the view models.
    function role(name: string): color {
        switch (name) {
        case "green": return green
        case "orange": return orange
        case "yellow": return yellow
        default: return secondaryText
        }
    }
}

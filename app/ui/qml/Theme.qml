pragma Singleton
import QtQuick

// Colours and sizes of the window. `dark` follows the shell's appearance. Every text colour
// reaches 4.5:1 on the surfaces it is set on, and every control colour 3:1, in both themes
// (checked by the contrast test from these values).
QtObject {
    property bool dark: false

    // Filled controls (the main button, the prominent buttons) and their label.
    readonly property color accent: dark ? "#ff8a50" : "#b93d0a"
    readonly property color accentText: dark ? "#1c1c20" : "#ffffff"
    readonly property color accentPressed: dark ? "#ffa578" : "#9a3208"
    // The selection's tint: the accent at a low opacity over the surface beneath.
    readonly property color accentSoft: Qt.rgba(accent.r, accent.g, accent.b, 0.12)
    // The surface of a failure: the warning colour at a low opacity over a card.
    readonly property color warningSoft: Qt.rgba(orange.r, orange.g, orange.b, dark ? 0.10 : 0.06)
    readonly property color background: dark ? "#1c1c20" : "#f6f4f2"
    readonly property color sidebar: dark ? "#25252a" : "#ece8e4"
    readonly property color card: dark ? "#2b2b31" : "#ffffff"
    // Hairlines between surfaces; decoration only, never a control's only outline.
    readonly property color cardBorder: dark ? "#3b3b42" : "#e3ddd7"
    // The outline of a control whose shape is its meaning: a switch's track, a field.
    readonly property color controlBorder: dark ? "#8a8a94" : "#7d7d84"
    readonly property color hover: dark ? "#34343b" : "#f1ece8"
    readonly property color field: dark ? "#222227" : "#f8f6f4"
    readonly property color text: dark ? "#f2f2f5" : "#1d1d1f"
    readonly property color secondaryText: dark ? "#aeaeb6" : "#5a5a61"
    readonly property color green: dark ? "#34c759" : "#1a7f37"
    readonly property color orange: dark ? "#ff9f0a" : "#a84d08"
    readonly property color yellow: dark ? "#ffd60a" : "#8a6a00"
    readonly property color blue: dark ? "#5aa0ff" : "#2f6fde"
    readonly property color star: dark ? "#ffc83d" : "#a66f00"
    readonly property color focusRing: accent

    readonly property int radius: 12
    readonly property int pagePadding: 28
    // Every page's column: the same width and left edge, so titles line up across pages.
    readonly property int pageMaxWidth: 900

    // Text sizes follow the desktop: its font (family and size) and its text scaling, which
    // reaches Qt as the logical DPI behind point sizes. `textScale` (set from the shell) is the
    // desktop's font size against the 10 pt the layout was drawn for, never below it.
    property real textScale: 1
    function pt(pixels: real): real { return pixels * 0.75 * textScale }

    // The colour of a role named by the view models.
    function role(name: string): color {
        switch (name) {
        case "green": return green
        case "orange": return orange
        case "yellow": return yellow
        case "accent": return accent
        default: return secondaryText
        }
    }
}

import QtQuick
import Orlune.Ui

// A small capsule with a count or a word.
Rectangle {
    id: badge
    property string text: ""
    property color tint: Theme.secondaryText
    property bool strong: false

    implicitWidth: Math.max(label.implicitWidth + 12, implicitHeight)
    implicitHeight: label.implicitHeight + 4
    radius: height / 2
    // The word on the card's own colour, outlined in the tint, reads on any row behind it.
    color: strong ? tint : Theme.card
    border.width: strong ? 0 : 1
    border.color: Qt.rgba(tint.r, tint.g, tint.b, 0.6)

    Text {
        id: label
        anchors.centerIn: parent
        text: badge.text
        color: badge.strong ? Theme.accentText : badge.tint
        font.pointSize: Theme.pt(11)
        font.bold: true
        font.letterSpacing: 0.4
    }
}

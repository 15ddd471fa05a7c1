import QtQuick
import Orlune.Ui

// The keyboard focus of a custom control: an accent outline around its background. Set
// `shown` to the control's visualFocus; `inset` draws it inside for rows in a clipped list.
Rectangle {
    property bool shown: false
    property bool inset: false

    objectName: "focusRing"
    anchors.fill: parent
    anchors.margins: inset ? 0 : -3
    radius: ((parent as Rectangle)?.radius ?? 6) + (inset ? 0 : 3)
    color: "transparent"
    border.width: 2
    border.color: Theme.focusRing
    visible: shown
}

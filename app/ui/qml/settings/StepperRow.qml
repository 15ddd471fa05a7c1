import QtQuick
import QtQuick.Layouts
import Orlune.Ui

// A value with minus and plus buttons; the label carries the current value.
RowLayout {
    id: row
    property string label: ""
    property bool canDecrease: true
    property bool canIncrease: true
    signal stepped(int direction)

    spacing: 8
    Layout.fillWidth: true

    Text {
        text: row.label
        color: Theme.text
        font.pointSize: Theme.pt(13)
        Layout.fillWidth: true
    }
    // A button that reaches its limit is disabled and would drop the keyboard focus; the focus
    // moves to its partner instead.
    PlainButton {
        id: minus
        iconSymbol: "minus"
        enabled: row.canDecrease
        onActiveFocusChanged: if (!activeFocus && !enabled) plus.forceActiveFocus(Qt.TabFocusReason)
        tip: "Decrease"
        Accessible.name: "Decrease " + row.label
        onClicked: row.stepped(-1)
    }
    PlainButton {
        id: plus
        iconSymbol: "plus"
        enabled: row.canIncrease
        onActiveFocusChanged: if (!activeFocus && !enabled) minus.forceActiveFocus(Qt.TabFocusReason)
        tip: "Increase"
        Accessible.name: "Increase " + row.label
        onClicked: row.stepped(1)
    }
}

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
        font.pixelSize: 13
        Layout.fillWidth: true
    }
    PlainButton {
        iconSymbol: "minus"
        enabled: row.canDecrease
        tip: "Decrease"
        Accessible.name: "Decrease " + row.label
        onClicked: row.stepped(-1)
    }
    PlainButton {
        iconSymbol: "plus"
        enabled: row.canIncrease
        tip: "Increase"
        Accessible.name: "Increase " + row.label
        onClicked: row.stepped(1)
    }
}

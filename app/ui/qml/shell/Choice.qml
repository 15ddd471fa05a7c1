import QtQuick
import QtQuick.Controls.Basic
import Orlune.Ui

// The window's drop-down: the theme's surfaces and text in the field and in its list, the
// highlighted entry on the hover tint, the chosen one marked.
ComboBox {
    id: control

    implicitHeight: 34
    hoverEnabled: true
    font.pointSize: Theme.pt(13)
    Accessible.name: displayText

    background: Rectangle {
        implicitWidth: 140
        radius: 8
        color: control.hovered && control.enabled ? Theme.hover : Theme.card
        border.color: Theme.controlBorder
        FocusRing { shown: control.visualFocus }
    }
    contentItem: Text {
        leftPadding: 10
        rightPadding: control.indicator.width + 4
        text: control.displayText
        color: Theme.text
        font: control.font
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }
    indicator: Icon {
        x: control.width - width - 10
        y: (control.height - height) / 2
        symbol: "chevron.up.chevron.down"
        tint: Theme.secondaryText
        size: 13
    }
    delegate: ItemDelegate {
        id: entry
        required property int index
        required property var modelData
        width: ListView.view ? ListView.view.width : implicitWidth
        highlighted: control.highlightedIndex === index
        hoverEnabled: true
        contentItem: Text {
            text: entry.modelData
            color: Theme.text
            font: control.font
            elide: Text.ElideRight
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle {
            color: entry.down ? Theme.accentSoft : (entry.highlighted ? Theme.hover : "transparent")
            Rectangle {
                visible: control.currentIndex === entry.index
                width: 3
                height: parent.height - 10
                anchors.verticalCenter: parent.verticalCenter
                radius: 1.5
                color: Theme.accent
            }
        }
        Accessible.name: entry.modelData
    }
    popup.background: Rectangle {
        radius: 8
        color: Theme.card
        border.color: Theme.controlBorder
    }
}

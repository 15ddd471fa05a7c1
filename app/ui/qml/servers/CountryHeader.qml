import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orlune.Ui

// A country's header in the list; pressing it shows or hides the country's relays.
AbstractButton {
    id: header
    property var entry: ({})
    // The list's keyboard cursor is on this header.
    property bool cursor: false

    objectName: "countryHeader"
    implicitHeight: 40
    hoverEnabled: true
    focusPolicy: Qt.NoFocus
    Accessible.role: Accessible.Button
    Accessible.focused: cursor
    Accessible.name: entry.accessibleName
    Accessible.description: entry.accessibleHint

    background: Rectangle {
        radius: 8
        color: header.hovered ? Theme.hover : "transparent"
        FocusRing { shown: header.cursor; inset: true }
    }
    contentItem: RowLayout {
        spacing: 8
        Text {
            text: header.entry.flag + "  " + header.entry.country
            color: Theme.text
            font.pointSize: Theme.pt(14)
            font.bold: true
            Layout.leftMargin: 8
        }
        Badge {
            text: String(header.entry.count)
        }
        Item { Layout.fillWidth: true }
        Icon {
            symbol: header.entry.chevron
            tint: Theme.secondaryText
            size: 14
            Layout.rightMargin: 10
        }
    }
}

import QtQuick
import QtQuick.Controls.Basic
import Orlune.Ui

// A link that opens in the browser, in the accent colour with the outside-link icon.
AbstractButton {
    id: link
    property bool showIcon: true

    hoverEnabled: true
    padding: 2
    Accessible.role: Accessible.Link
    Accessible.name: text

    background: Item {
        FocusRing { shown: link.visualFocus }
    }
    contentItem: Row {
        spacing: 6
        Icon {
            anchors.verticalCenter: parent.verticalCenter
            visible: link.showIcon
            symbol: "arrow.up.right.square"
            tint: Theme.accent
            size: 15
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: link.text
            color: Theme.accent
            font.pointSize: Theme.pt(13)
            font.underline: link.hovered
        }
    }
    HoverHandler {
        cursorShape: Qt.PointingHandCursor
    }
}

import QtQuick
import QtQuick.Layouts
import Orlune.Ui

// The status in one line: a dot and the title in the status colour, then the relay or a hint.
Card {
    id: banner
    required property HomeViewModel home

    implicitHeight: column.implicitHeight + 28

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 14
        anchors.leftMargin: 18
        spacing: 6
        RowLayout {
            spacing: 9
            Rectangle {
                implicitWidth: 9
                implicitHeight: 9
                radius: 4.5
                color: Theme.role(banner.home.statusColor)
            }
            Text {
                text: banner.home.statusTitle
                color: Theme.role(banner.home.statusColor)
                font.pointSize: Theme.pt(12)
                font.bold: true
                font.letterSpacing: 1
            }
        }
        Text {
            text: banner.home.bannerLine
            color: banner.home.bannerIsCaption ? Theme.secondaryText : Theme.text
            font.pointSize: Theme.pt(banner.home.bannerIsCaption ? 12 : 15)
            font.weight: banner.home.bannerIsCaption ? Font.Normal : Font.DemiBold
            elide: Text.ElideRight
            Layout.fillWidth: true
        }
    }
}

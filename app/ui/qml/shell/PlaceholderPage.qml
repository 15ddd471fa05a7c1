import QtQuick
import QtQuick.Layouts
import Orlune.Ui

// Stands in for a page whose screen is not part of this build.
Item {
    id: page
    property string title: ""
    property string symbol: ""

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Theme.pagePadding
        spacing: 18
        PageHeader {
            title: page.title
            Layout.fillWidth: true
        }
        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Column {
                anchors.centerIn: parent
                spacing: 10
                Icon {
                    anchors.horizontalCenter: parent.horizontalCenter
                    symbol: page.symbol
                    tint: Theme.secondaryText
                    size: 40
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: page.title + " is not available in this version."
                    color: Theme.secondaryText
                    font.pixelSize: 14
                }
            }
        }
    }
}

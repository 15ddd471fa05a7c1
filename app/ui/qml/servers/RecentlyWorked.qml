import QtQuick
import QtQuick.Layouts
import Orlune.Ui

// Relays that worked for the user and have left the list, offered only when the user opted in:
// each connects with the profile it worked with.
Card {
    id: card
    required property ServersViewModel servers

    implicitHeight: column.implicitHeight + 28

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 14
        spacing: 8
        Text {
            text: card.servers.recentlyWorkedTitle
            color: Theme.text
            font.pointSize: Theme.pt(13)
            font.bold: true
            Accessible.role: Accessible.Heading
            Accessible.name: text
        }
        Text {
            text: card.servers.recentlyWorkedNote
            color: Theme.secondaryText
            font.pointSize: Theme.pt(11)
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        Repeater {
            model: card.servers.recentlyWorked
            delegate: RowLayout {
                id: entry
                required property var modelData
                spacing: 10
                Layout.fillWidth: true
                Text {
                    text: entry.modelData.flag
                    font.pointSize: Theme.pt(14)
                }
                ColumnLayout {
                    spacing: 1
                    Layout.fillWidth: true
                    Text {
                        text: entry.modelData.name + " · " + entry.modelData.country
                        color: Theme.text
                        font.pointSize: Theme.pt(12)
                        font.weight: Font.Medium
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                    }
                    Text {
                        text: entry.modelData.line
                        visible: text !== ""
                        color: Theme.secondaryText
                        font.pointSize: Theme.pt(11)
                        wrapMode: Text.Wrap
                        Layout.fillWidth: true
                    }
                }
                PlainButton {
                    objectName: "connectRecentlyWorked"
                    text: entry.modelData.connectLabel
                    Accessible.name: entry.modelData.accessibleName
                    onClicked: card.servers.connectRecentlyWorked(entry.modelData.id)
                }
            }
        }
    }
}

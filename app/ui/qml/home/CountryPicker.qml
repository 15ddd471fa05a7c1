import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orlune.Ui

// The country menu: the chosen country on its face, every country with recommended relays in it.
ColumnLayout {
    id: picker
    required property HomeViewModel home

    spacing: 6

    AbstractButton {
        id: face
        Layout.fillWidth: true
        implicitHeight: 54
        enabled: picker.home.pickerEnabled
        hoverEnabled: true
        opacity: enabled ? 1 : 0.55
        ToolTip.visible: hovered
        ToolTip.delay: 600
        ToolTip.text: "Choose a country; its current best listed relay is selected automatically"
        Accessible.name: "Country, " + picker.home.pickerName
        onClicked: menu.open()

        background: Rectangle {
            radius: 10
            color: face.hovered ? Theme.hover : Theme.field
            border.color: Theme.cardBorder
        }
        contentItem: RowLayout {
            spacing: 10
            Item { implicitWidth: 4 }
            Icon {
                symbol: "globe.americas"
                tint: Theme.accent
                size: 20
            }
            ColumnLayout {
                spacing: 1
                Layout.fillWidth: true
                Text {
                    text: "COUNTRY"
                    color: Theme.secondaryText
                    font.pixelSize: 10
                    font.bold: true
                    font.letterSpacing: 0.8
                }
                Text {
                    text: (picker.home.pickerFlag === "" ? "" : picker.home.pickerFlag + "  ") + picker.home.pickerName
                    color: Theme.text
                    font.pixelSize: 14
                    font.weight: Font.DemiBold
                    elide: Text.ElideRight
                    Layout.fillWidth: true
                }
            }
            Text {
                text: picker.home.pickerCount
                color: Theme.secondaryText
                font.pixelSize: 12
            }
            Icon {
                symbol: "chevron.up.chevron.down"
                tint: Theme.secondaryText
                size: 14
            }
            Item { implicitWidth: 4 }
        }

        Menu {
            id: menu
            y: face.height + 4
            width: face.width
            Instantiator {
                model: picker.home.pickerEntries
                delegate: MenuItem {
                    id: item
                    required property var modelData
                    text: item.modelData.text
                    onTriggered: picker.home.chooseCountry(item.modelData.code)
                    contentItem: RowLayout {
                        spacing: 8
                        Text {
                            text: item.text
                            color: Theme.text
                            font.pixelSize: 13
                            Layout.fillWidth: true
                        }
                        Icon {
                            visible: item.modelData.checked
                            symbol: "checkmark"
                            tint: Theme.accent
                            size: 14
                        }
                    }
                }
                onObjectAdded: (index, object) => menu.insertItem(index, object)
                onObjectRemoved: (index, object) => menu.removeItem(object)
            }
        }
    }
    Text {
        text: "Best provider-listed speed/ping relay · refreshes every 5 minutes"
        color: Theme.secondaryText
        font.pixelSize: 11
        Layout.leftMargin: 4
    }
}

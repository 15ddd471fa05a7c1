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
        objectName: "countryPicker"
        ToolTip.visible: hovered
        ToolTip.delay: 600
        ToolTip.text: picker.home.pickerTooltip
        Accessible.role: Accessible.ButtonMenu
        Accessible.name: "Country, " + picker.home.pickerName
        Accessible.description: enabled ? picker.home.pickerTooltip : picker.home.pickerReason
        onClicked: menu.open()

        background: Rectangle {
            radius: 10
            color: face.hovered ? Theme.hover : Theme.field
            border.color: Theme.controlBorder
            FocusRing { shown: face.visualFocus }
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
                    font.pointSize: Theme.pt(11)
                    font.bold: true
                    font.letterSpacing: 0.8
                }
                Text {
                    text: (picker.home.pickerFlag === "" ? "" : picker.home.pickerFlag + "  ") + picker.home.pickerName
                    color: Theme.text
                    font.pointSize: Theme.pt(14)
                    font.weight: Font.DemiBold
                    elide: Text.ElideRight
                    Layout.fillWidth: true
                }
            }
            Text {
                text: picker.home.pickerCount
                color: Theme.secondaryText
                font.pointSize: Theme.pt(12)
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
                    checkable: true
                    checked: item.modelData.checked
                    indicator: null
                    onTriggered: picker.home.chooseCountry(item.modelData.code)
                    contentItem: RowLayout {
                        spacing: 8
                        Text {
                            text: item.text
                            color: Theme.text
                            font.pointSize: Theme.pt(13)
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
    // A disabled picker gets no hover, so the reason takes the caption's place.
    Text {
        objectName: "pickerCaption"
        text: picker.home.pickerEnabled ? picker.home.pickerCaption : picker.home.pickerReason
        color: Theme.secondaryText
        wrapMode: Text.Wrap
        Layout.fillWidth: true
        font.pointSize: Theme.pt(11)
        Layout.leftMargin: 4
    }
}

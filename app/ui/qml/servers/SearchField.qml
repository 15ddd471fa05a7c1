import QtQuick
import QtQuick.Controls.Basic
import Orlune.Ui

// A search field with its symbol and, while it holds text, a clear button.
TextField {
    id: field
    property string iconSymbol: "magnifyingglass"

    implicitHeight: 34
    leftPadding: 32
    rightPadding: clear.visible ? 30 : 10
    font.pointSize: Theme.pt(13)
    color: Theme.text
    placeholderTextColor: Theme.secondaryText
    selectByMouse: true
    Accessible.role: Accessible.EditableText
    Accessible.name: placeholderText
    Accessible.searchEdit: true
    Keys.onEscapePressed: event => {
        event.accepted = field.text !== ""
        field.clear()
    }

    background: Rectangle {
        radius: 8
        color: Theme.field
        border.color: field.activeFocus ? Theme.focusRing : Theme.controlBorder
        border.width: field.activeFocus ? 2 : 1
    }

    Icon {
        anchors.left: parent.left
        anchors.leftMargin: 10
        anchors.verticalCenter: parent.verticalCenter
        symbol: field.iconSymbol
        tint: Theme.secondaryText
        size: 14
    }

    AbstractButton {
        id: clear
        anchors.right: parent.right
        anchors.rightMargin: 6
        anchors.verticalCenter: parent.verticalCenter
        width: 20
        height: 20
        visible: field.text !== ""
        // Escape clears the field from the keyboard; the button is for the pointer.
        focusPolicy: Qt.NoFocus
        Accessible.role: Accessible.Button
        Accessible.name: "Clear " + field.placeholderText
        onClicked: field.clear()
        contentItem: Icon {
            symbol: "xmark.circle.fill"
            tint: Theme.secondaryText
            size: 15
        }
    }
}

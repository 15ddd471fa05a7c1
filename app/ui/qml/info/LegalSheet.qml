import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Orlune.Ui

// The selected legal document in a sheet over the window. "Done", Return or Enter closes it
// (Done is the default action), and so does Escape.
Popup {
    id: sheet
    objectName: "legalSheet"
    required property AboutViewModel about
    readonly property var doc: about.document

    parent: T.Overlay.overlay
    modal: true
    focus: true
    visible: about.selectedDocument !== ""
    closePolicy: Popup.CloseOnEscape
    width: Math.min(560, (parent ? parent.width : 560) - 40)
    height: Math.min(640, (parent ? parent.height : 640) - 60)
    x: parent ? (parent.width - width) / 2 : 0
    y: parent ? (parent.height - height) / 2 : 0
    padding: 0

    onClosed: about.closeDocument()
    onOpened: contentItem.forceActiveFocus()

    background: Rectangle {
        radius: Theme.radius
        color: Theme.card
        border.color: Theme.cardBorder
    }
    T.Overlay.modal: Rectangle {
        color: Qt.rgba(0, 0, 0, Theme.dark ? 0.5 : 0.3)
    }

    contentItem: ColumnLayout {
        spacing: 0
        Keys.onReturnPressed: done.clicked()
        Keys.onEnterPressed: done.clicked()

        RowLayout {
            spacing: 12
            Layout.fillWidth: true
            Layout.margins: 18
            Text {
                objectName: "sheetTitle"
                text: sheet.doc.title ?? ""
                color: Theme.text
                font.pointSize: Theme.pt(20)
                font.bold: true
                Layout.fillWidth: true
                Accessible.role: Accessible.Heading
            }
            PlainButton {
                id: done
                objectName: "doneButton"
                text: "Done"
                prominent: true
                onClicked: sheet.about.closeDocument()
            }
        }
        Rectangle {
            color: Theme.cardBorder
            implicitHeight: 1
            Layout.fillWidth: true
        }
        ScrollView {
            id: scroll
            contentWidth: availableWidth
            Layout.fillWidth: true
            Layout.fillHeight: true

            ColumnLayout {
                width: scroll.availableWidth - 36
                x: 18
                spacing: 14

                Item { implicitHeight: 4 }
                Text {
                    text: sheet.doc.lastUpdated ?? ""
                    color: Theme.secondaryText
                    font.pointSize: Theme.pt(12)
                }
                Repeater {
                    model: sheet.doc.sections ?? []
                    delegate: ColumnLayout {
                        id: section
                        required property var modelData
                        required property int index
                        spacing: 5
                        Layout.fillWidth: true
                        Text {
                            visible: text !== ""
                            text: section.modelData.title
                            color: Theme.text
                            font.pointSize: Theme.pt(14)
                            font.weight: Font.DemiBold
                            Layout.fillWidth: true
                        }
                        Text {
                            visible: text !== ""
                            text: section.modelData.text
                            color: Theme.text
                            font.pointSize: Theme.pt(13)
                            wrapMode: Text.WordWrap
                            lineHeight: 1.1
                            Layout.fillWidth: true
                        }
                        Repeater {
                            model: section.modelData.links
                            delegate: LinkButton {
                                required property var modelData
                                required property int index
                                text: modelData.title
                                onClicked: sheet.about.openDocumentLink(section.index, index)
                            }
                        }
                    }
                }
                Item { implicitHeight: 10 }
            }
        }
    }
}

import QtQuick
import QtQuick.Layouts
import Orlune.Ui

// Shown only after a failure: what went wrong and the three ways on.
Card {
    id: card
    required property HomeViewModel home

    implicitHeight: column.implicitHeight + 32
    border.color: Qt.rgba(Theme.orange.r, Theme.orange.g, Theme.orange.b, 0.55)
    color: Theme.warningSoft

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 16
        spacing: 10
        RowLayout {
            spacing: 8
            Icon {
                symbol: "exclamationmark.triangle.fill"
                tint: Theme.orange
                size: 18
            }
            Text {
                text: "CONNECTION FAILED"
                color: Theme.orange
                font.pointSize: Theme.pt(12)
                font.bold: true
                font.letterSpacing: 1
            }
        }
        Text {
            text: card.home.failureMessage
            color: Theme.text
            font.pointSize: Theme.pt(13)
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        Flow {
            spacing: 8
            Layout.fillWidth: true
            PlainButton {
                text: "Stop VPN & Restore Internet"
                enabled: card.home.stopEnabled
                onClicked: card.home.stop()
            }
            PlainButton {
                text: "Retry"
                enabled: card.home.retryEnabled
                onClicked: card.home.retry()
            }
            PlainButton {
                text: "Choose Another Server"
                onClicked: card.home.chooseAnotherServer()
            }
        }
    }
}

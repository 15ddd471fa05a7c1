import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orlune.Ui

// The list's place when there is nothing to list: loading, offline, no catalog, no match.
Item {
    id: state
    property bool loading: false
    property string symbol: ""
    property string title: ""
    property string text: ""
    property bool showRetry: false
    signal retry()

    ColumnLayout {
        anchors.centerIn: parent
        width: Math.min(parent.width - 40, 460)
        spacing: 10
        BusyIndicator {
            visible: state.loading
            running: state.loading
            Layout.alignment: Qt.AlignHCenter
        }
        Icon {
            visible: state.symbol !== ""
            symbol: state.symbol
            tint: Theme.secondaryText
            size: 40
            Layout.alignment: Qt.AlignHCenter
        }
        Text {
            text: state.title
            color: Theme.text
            font.pointSize: Theme.pt(17)
            font.bold: true
            horizontalAlignment: Text.AlignHCenter
            Layout.fillWidth: true
        }
        Text {
            visible: text !== ""
            text: state.text
            color: Theme.secondaryText
            font.pointSize: Theme.pt(13)
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            Layout.fillWidth: true
        }
        PlainButton {
            visible: state.showRetry
            prominent: true
            text: "Retry"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 6
            onClicked: state.retry()
        }
    }
}

import QtQuick
import QtQuick.Layouts
import Orlune.Ui

// Secondary explanatory text under a control.
Text {
    property bool warning: false
    color: warning ? Theme.orange : Theme.secondaryText
    font.pointSize: Theme.pt(12)
    wrapMode: Text.WordWrap
    visible: text !== ""
    Layout.fillWidth: true
}

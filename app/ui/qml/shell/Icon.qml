import QtQuick
import Orlune.Ui

// A symbol of the icon table, drawn in one colour at `size`.
Item {
    id: icon
    property string symbol: ""
    property color tint: Theme.text
    property int size: 16

    implicitWidth: size
    implicitHeight: size

    Image {
        anchors.centerIn: parent
        width: icon.size
        height: icon.size
        sourceSize.width: icon.size * 2
        sourceSize.height: icon.size * 2
        fillMode: Image.PreserveAspectFit
        smooth: true
        source: icon.symbol === "" ? "" : "image://icon/" + icon.symbol + "/" + icon.tint.toString().substring(1)
    }
}

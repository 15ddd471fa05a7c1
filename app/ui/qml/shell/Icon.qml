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
        // Rendered at the screen's own pixel density (1x, 1.5x, 2x, 3x), so edges stay crisp.
        sourceSize.width: Math.ceil(icon.size * Screen.devicePixelRatio)
        sourceSize.height: Math.ceil(icon.size * Screen.devicePixelRatio)
        fillMode: Image.PreserveAspectFit
        smooth: true
        source: icon.symbol === "" ? "" : "image://icon/" + icon.symbol + "/" + icon.tint.toString().substring(1)
    }
}

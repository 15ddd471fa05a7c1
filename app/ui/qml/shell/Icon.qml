import QtQuick
import Orlune.Ui

// A symbol of the icon table, drawn in one colour.
Image {
    id: icon
    property string symbol: ""
    property color tint: Theme.text
    property int size: 16

    width: size
    height: size
    sourceSize.width: size * 2
    sourceSize.height: size * 2
    fillMode: Image.PreserveAspectFit
    smooth: true
    source: symbol === "" ? "" : "image://icon/" + symbol + "/" + tint.toString().substring(1)
}

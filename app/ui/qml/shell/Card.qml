import QtQuick
import Orlune.Ui

// A rounded panel with a hairline border.
Rectangle {
    radius: Theme.radius
    color: Theme.card
    border.color: Theme.cardBorder
    border.width: 1
}

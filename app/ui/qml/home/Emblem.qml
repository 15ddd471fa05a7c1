import QtQuick
import Orlune.Ui

// The round emblem: a turning arc while connecting, a breathing green halo while connected.
Item {
    id: emblem
    property string mode: "idle"        // "idle", "connecting" or "connected"
    property string symbol: "power"
    property color statusColor: Theme.secondaryText

    // Room for the halo at its largest (192 × 1.03) and its soft edge, so it is never cut flat.
    implicitWidth: 212
    implicitHeight: 212

    Rectangle {
        id: halo
        anchors.centerIn: parent
        width: 192
        height: 192
        radius: 96
        color: Theme.green
        opacity: 0.35
        visible: emblem.mode === "connected"
        SequentialAnimation on scale {
            running: halo.visible
            loops: Animation.Infinite
            NumberAnimation { from: 1.0; to: 1.03; duration: 750; easing.type: Easing.InOutQuad }
            NumberAnimation { from: 1.03; to: 1.0; duration: 750; easing.type: Easing.InOutQuad }
        }
    }

    Rectangle {
        anchors.centerIn: parent
        width: 174
        height: 174
        radius: 87
        color: Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, Theme.dark ? 0.16 : 0.10)
        border.width: 3
        border.color: Qt.rgba(emblem.statusColor.r, emblem.statusColor.g, emblem.statusColor.b, 0.45)
    }
    Rectangle {
        anchors.centerIn: parent
        width: 124
        height: 124
        radius: 62
        color: Qt.rgba(Theme.blue.r, Theme.blue.g, Theme.blue.b, Theme.dark ? 0.16 : 0.09)
    }
    Rectangle {
        anchors.centerIn: parent
        width: 84
        height: 84
        radius: 42
        color: Theme.card
        border.color: Theme.cardBorder
    }

    Canvas {
        id: arc
        anchors.centerIn: parent
        width: 184
        height: 184
        visible: emblem.mode === "connecting"
        onPaint: {
            const context = getContext("2d")
            context.reset()
            context.lineWidth = 4
            context.lineCap = "round"
            context.strokeStyle = Theme.orange
            context.beginPath()
            context.arc(width / 2, height / 2, width / 2 - 3, 0, Math.PI * 0.6)
            context.stroke()
        }
        RotationAnimator on rotation {
            running: arc.visible
            from: 0
            to: 360
            duration: 1100
            loops: Animation.Infinite
        }
    }

    Icon {
        anchors.centerIn: parent
        symbol: emblem.symbol
        tint: emblem.mode === "connected" ? Theme.green : emblem.statusColor
        size: 42
    }
}

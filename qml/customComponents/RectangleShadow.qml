import QtQuick 2.15
import QtGraphicalEffects 1.15

// A panel with a soft glow around it; children go inside the panel.
Item {
    id: root
    property alias insideColor: inner.color
    property alias radius: inner.radius
    property alias color: glow.color
    default property alias content: inner.data

    RectangularGlow {
        id: glow
        anchors.fill: inner
        glowRadius: 8
        spread: 0
        color: appSettings.shadowInside
        cornerRadius: inner.radius + glowRadius
    }

    Rectangle {
        id: inner
        anchors.fill: parent
        radius: 8
        color: appSettings.white
    }
}

import QtQuick 2.15

// A panel with a soft glow around it; children go inside the panel.
// The glow is rings of plain rectangles fading outwards, which the software
// scene graph draws too: the window needs no OpenGL stack in the process.
Item {
    id: root
    property alias insideColor: inner.color
    property alias radius: inner.radius
    property color color: appSettings.shadowInside
    default property alias content: inner.data

    Repeater {
        model: 8
        Rectangle {
            readonly property int spread: 2 * (index + 1)
            x: -spread
            y: -spread
            width: root.width + 2 * spread
            height: root.height + 2 * spread
            radius: inner.radius + spread
            color: "transparent"
            border.width: 2
            border.color: root.color
            opacity: 0.45 * Math.pow(1 - index / 8, 2)
        }
    }

    Rectangle {
        id: inner
        anchors.fill: parent
        radius: 8
        color: appSettings.white
    }
}

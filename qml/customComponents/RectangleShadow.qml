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
            readonly property int step: index + 1
            x: -step
            y: -step
            width: root.width + 2 * step
            height: root.height + 2 * step
            radius: inner.radius + step
            color: "transparent"
            border.width: 1
            border.color: root.color
            opacity: 0.7 * Math.pow(1 - step / 9, 2)
        }
    }

    Rectangle {
        id: inner
        anchors.fill: parent
        radius: 8
        color: appSettings.white
    }
}

import QtQuick 2.15

// The busy indicator: 12 frames of 64 x 64 at 30 frames per second, looping while visible.
AnimatedSprite {
    property bool white: false
    width: 64
    height: 64
    source: white ? "qrc:/imgs/busy_indicator_white.png" : "qrc:/imgs/busy_indicator.png"
    frameCount: 12
    frameWidth: 64
    frameHeight: 64
    frameRate: 30
    loops: AnimatedSprite.Infinite
    running: visible
}

import QtQuick 2.15
import QtQuick.Window 2.15

// The main window: fixed size, hidden until asked for.
Window {
    id: window
    title: qsTr("Quorva Link")
    width: DISPLAY_WIDTH
    height: DISPLAY_HEIGHT
    minimumWidth: DISPLAY_WIDTH
    maximumWidth: DISPLAY_WIDTH
    minimumHeight: DISPLAY_HEIGHT
    maximumHeight: DISPLAY_HEIGHT
    visible: false
    color: "#0082F2"

    Connections {
        target: printClient
        function onShowWindow() {
            window.show()
            window.raise()
            window.requestActivate()
        }
    }
}

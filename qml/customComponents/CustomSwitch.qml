import QtQuick 2.15

// An on/off switch; a click anywhere on the track flips checked.
Item {
    id: root
    property bool checked: false
    implicitWidth: track.width
    implicitHeight: track.height + track.anchors.topMargin

    Rectangle {
        id: track
        anchors.top: parent.top
        anchors.topMargin: 6
        height: 24
        width: height * 2
        radius: height / 2
        color: root.enabled ? (root.checked ? appSettings.btnSwitch4 : "#cdd8e8")
                            : (root.checked ? appSettings.btnSwitch2 : appSettings.btnSwitch3)
        Behavior on color { ColorAnimation { duration: 200 } }

        Rectangle {
            id: knob
            width: track.height - 4
            height: width
            radius: width / 2
            anchors.verticalCenter: parent.verticalCenter
            x: root.checked ? track.width - width - 2 : 2
            color: appSettings.white
            Behavior on x { NumberAnimation { duration: 200 } }
        }

        MouseArea {
            objectName: "switchArea"
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: root.checked = !root.checked
        }
    }
}

import QtQuick 2.15

// A footer label that acts as a link.
CommonLabelLight {
    signal clicked()

    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: parent.clicked()
    }
}

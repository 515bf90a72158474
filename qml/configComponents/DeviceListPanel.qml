import QtQuick 2.15
import "../customComponents"

// The printer and terminal list: header row, list, empty notice, scroll
// indicator and the busy overlay of a pending refresh. Fills its parent panel.
Item {
    id: root
    property alias model: list.model
    property alias delegate: list.delegate
    property alias count: list.count
    // The pages give the texts, so each is translated in the page's own context.
    property string nameHeader
    property string stateHeader
    property string availableHeader
    property string emptyText
    property bool headerWhenEmpty: true
    property bool busyBlocksInput: false

    anchors.fill: parent

    Item {
        id: header
        objectName: "listHeader"
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.topMargin: 12
        anchors.leftMargin: 24
        anchors.rightMargin: 24
        height: 30
        visible: root.headerWhenEmpty || list.count > 0

        CommonLabelMedium {
            width: parent.width / 2
            anchors.verticalCenter: parent.verticalCenter
            text: root.nameHeader
            font.pixelSize: 16
            color: appSettings.titleColor
        }
        CommonLabelMedium {
            x: parent.width / 2
            width: parent.width / 4
            anchors.verticalCenter: parent.verticalCenter
            horizontalAlignment: Text.AlignHCenter
            text: root.stateHeader
            font.pixelSize: 16
            color: appSettings.titleColor
        }
        CommonLabelMedium {
            x: parent.width * 3 / 4
            width: parent.width / 4
            anchors.verticalCenter: parent.verticalCenter
            horizontalAlignment: Text.AlignRight
            text: root.availableHeader
            font.pixelSize: 16
            color: appSettings.titleColor
        }
    }

    ListView {
        id: list
        objectName: "deviceList"
        anchors.top: header.visible ? header.bottom : parent.top
        anchors.bottom: parent.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.margins: 24
        anchors.topMargin: 12
        clip: true
        boundsBehavior: Flickable.StopAtBounds
    }

    Image {
        objectName: "noData"
        anchors.centerIn: parent
        visible: list.count === 0
        source: "qrc:/imgs/no-data-graphic.png"
    }
    CommonLabelLight {
        objectName: "noDataText"
        anchors.horizontalCenter: parent.horizontalCenter
        y: parent.height / 2 + 110 - height / 2
        visible: list.count === 0
        text: root.emptyText
        font.pixelSize: 16
        color: appSettings.noResultsColor
    }

    Rectangle {
        objectName: "scrollIndicator"
        width: 4
        radius: 2
        x: parent.width - 10 - width
        y: list.y + 4 + list.visibleArea.yPosition * (list.height - 8)
        height: list.visibleArea.heightRatio * (list.height - 8)
        color: appSettings.scrollbarColor
        visible: list.contentHeight > list.height
    }

    Rectangle {
        objectName: "busyOverlay"
        anchors.fill: parent
        radius: 8
        color: appSettings.backgroundBusyIndicator
        visible: printClient.fetching

        BusySprite {
            anchors.centerIn: parent
        }
        MouseArea {
            anchors.fill: parent
            enabled: root.busyBlocksInput
        }
    }
}

import QtQuick 2.15

// The frame shared by the start, list and log pages: a title block, a content
// panel below it and, when buttons are given, a button row at the bottom right.
RectangleShadow {
    id: frame
    property alias title: mainTitle.text
    property alias subtitle: subTitle.text
    property alias panel: panel
    property int panelTopMargin: 0
    default property alias panelContent: panel.content
    property alias buttons: buttonRow.data

    anchors.leftMargin: 30
    anchors.rightMargin: 30
    color: appSettings.shadowOutside
    insideColor: appSettings.greyBackground

    Column {
        id: titleBlock
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.margins: 24
        spacing: 2

        MainTitle {
            id: mainTitle
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
        }
        SubTitle {
            id: subTitle
            width: parent.width
            font.pixelSize: 16
            color: appSettings.subTitleColor
            horizontalAlignment: Text.AlignHCenter
        }
    }

    RectangleShadow {
        id: panel
        anchors.top: titleBlock.bottom
        anchors.topMargin: 20 + frame.panelTopMargin
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: 24
        anchors.rightMargin: 24
        anchors.bottom: buttonRow.children.length > 0 ? buttonRow.top : parent.bottom
        anchors.bottomMargin: buttonRow.children.length > 0 ? 12 : 24
    }

    Row {
        id: buttonRow
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 24
        spacing: 12
    }
}

import QtQuick 2.15

// A card of the start page that leads to a device page; highlighted under the pointer.
RectangleShadow {
    id: card
    property alias illustration: image.source
    property alias title: titleText.text
    property alias subtitle: subtitleText.text
    property bool hovered: false
    signal clicked()

    insideColor: hovered ? appSettings.btnHoverOn : appSettings.btnHoverOff

    Column {
        anchors.centerIn: parent
        width: parent.width - 48
        spacing: 10

        Image {
            id: image
            anchors.horizontalCenter: parent.horizontalCenter
            width: Math.min(95, implicitWidth)
            height: Math.min(91, implicitHeight)
            fillMode: Image.PreserveAspectFit
        }
        Text {
            id: titleText
            width: parent.width
            height: Math.max(50, implicitHeight)
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            wrapMode: Text.WordWrap
            font.family: appSettings.appFontMedium.name
            font.weight: appSettings.mediumWeight
            font.pixelSize: 18
            color: appSettings.titleColor
        }
        Text {
            id: subtitleText
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
            lineHeightMode: Text.FixedHeight
            lineHeight: 22
            font.family: appSettings.appFontRegular.name
            font.pixelSize: 14
            color: appSettings.subTitleColor
        }
    }

    MouseArea {
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onEntered: card.hovered = true
        onExited: card.hovered = false
        onClicked: {
            card.hovered = false
            card.clicked()
        }
    }
}

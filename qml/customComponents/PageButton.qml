import QtQuick 2.15

// "Voltar" (outlined) and "Atualizar lista" (filled) style buttons of the pages.
Rectangle {
    id: button
    property alias text: label.text
    property bool filled: false
    signal clicked()

    width: filled ? 126 : 78
    height: 36
    radius: 4
    color: filled ? appSettings.titleColor : "transparent"
    border.width: filled ? 0 : 1
    border.color: appSettings.subTitleColor

    Text {
        id: label
        anchors.centerIn: parent
        width: parent.width - 8
        horizontalAlignment: Text.AlignHCenter
        elide: Text.ElideRight
        font.family: appSettings.appFontRegular.name
        font.pixelSize: 14
        color: button.filled ? "white" : appSettings.subTitleColor
    }

    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: button.clicked()
    }
}

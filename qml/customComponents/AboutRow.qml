import QtQuick 2.15

// A label and its value in the About card; extra children follow the value.
Row {
    id: row
    property alias label: labelText.text
    property alias value: valueText.text
    width: parent ? parent.width : implicitWidth
    height: 30
    spacing: 8

    SubTitle {
        id: labelText
        anchors.verticalCenter: parent.verticalCenter
        font.pixelSize: 14
        lineHeight: 30
    }
    MainTitle {
        id: valueText
        anchors.verticalCenter: parent.verticalCenter
        width: Math.min(implicitWidth, row.width - labelText.implicitWidth - row.spacing)
        font.pixelSize: 14
        lineHeight: 30
        wrapMode: Text.NoWrap
        elide: Text.ElideRight
    }
}

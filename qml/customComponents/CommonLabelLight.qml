import QtQuick 2.15

Text {
    font.family: appSettings.appFontLight.name
    font.weight: Font.Light
    font.pixelSize: appSettings.minorFontSize
    color: appSettings.lightColor
}

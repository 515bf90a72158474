import QtQuick 2.15

Text {
    font.family: appSettings.appFontMedium.name
    font.weight: appSettings.mediumWeight
    font.pixelSize: appSettings.titleFontSize
    lineHeightMode: Text.FixedHeight
    lineHeight: 27
    color: appSettings.titleColor
    horizontalAlignment: Text.AlignLeft
    verticalAlignment: Text.AlignVCenter
    wrapMode: Text.WordWrap
}

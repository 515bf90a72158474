import QtQuick 2.15

Text {
    font.family: appSettings.appFontRegular.name
    font.pixelSize: appSettings.subTitleFontSize
    lineHeightMode: Text.FixedHeight
    lineHeight: 25
    color: appSettings.subTitleColor
    horizontalAlignment: Text.AlignLeft
    verticalAlignment: Text.AlignVCenter
    wrapMode: Text.WordWrap
}

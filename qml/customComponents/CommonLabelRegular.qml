import QtQuick 2.15

Text {
    font.family: appSettings.appFontRegular.name
    lineHeightMode: Text.FixedHeight
    lineHeight: 22
}

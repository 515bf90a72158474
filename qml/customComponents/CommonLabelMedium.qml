import QtQuick 2.15

Text {
    font.family: appSettings.appFontMedium.name
    font.weight: appSettings.mediumWeight
    lineHeightMode: Text.FixedHeight
    lineHeight: 22
}

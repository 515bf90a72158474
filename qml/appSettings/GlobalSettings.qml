import QtQuick 2.15

// Colours, font sizes and fonts shared by every document (one instance, appSettings, in the window).
QtObject {
    readonly property int titleFontSize: 18
    readonly property int subTitleFontSize: 16
    readonly property int minorFontSize: 14

    readonly property color titleColor: "#303A4D"
    readonly property color subTitleColor: "#7c8ea7"
    readonly property color greyBackground: "#F5F7F9"
    readonly property color blueBackground: "#0082F2"
    readonly property color lightColor: "#BFE0FC"
    readonly property color white: "#FFFFFF"
    readonly property color buttonConfirm: "#0082F2"
    readonly property color btnSwitch: "#64B0F2"
    readonly property color btnSwitch2: "#BCE283"
    readonly property color btnSwitch3: "#e6e6e6"
    readonly property color btnSwitch4: "#21CB97"
    readonly property color scrollbarColor: "#C5CDDB"
    readonly property color shadowOutside: "#8c8c8c"
    readonly property color shadowInside: "#ced4e0"
    readonly property color backgroundBusyIndicator: Qt.rgba(1, 1, 1, 0.7)
    readonly property color noResultsColor: "#8f9ebd"
    readonly property color listColor: "#7588AB"
    readonly property color newVersion: "#8F9EB9"
    readonly property color btnHoverOn: "#E6F3FE"
    readonly property color btnHoverOff: "#FFFFFF"

    // Windows builds carry the Poppins files in the resource; elsewhere the family
    // comes from the system by name, with Open Sans (same proportions) as the fallback.
    readonly property bool embeddedFonts: Qt.platform.os === "windows"
    readonly property string systemFamily: Qt.fontFamilies().indexOf("Poppins") >= 0
                                           ? "Poppins"
                                           : (Qt.fontFamilies().indexOf("Open Sans") >= 0 ? "Open Sans" : "")
    // Open Sans has no medium cut; its semibold stands in for Poppins Medium.
    readonly property int mediumWeight: systemFamily === "Open Sans" ? Font.DemiBold : Font.Medium

    property FontLoader appFontRegular: FontLoader {
        source: embeddedFonts ? "qrc:/resources/Poppins-Regular.ttf" : ""
        Component.onCompleted: if (!embeddedFonts) name = systemFamily
    }
    property FontLoader appFontMedium: FontLoader {
        source: embeddedFonts ? "qrc:/resources/Poppins-Medium.ttf" : ""
        Component.onCompleted: if (!embeddedFonts) name = systemFamily
    }
    property FontLoader appFontLight: FontLoader {
        source: embeddedFonts ? "qrc:/resources/Poppins-Light.ttf" : ""
        Component.onCompleted: if (!embeddedFonts) name = systemFamily
    }
}

import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import QtQuick.Window 2.15
import "appSettings"
import "customComponents"

// The main window: fixed size, shown on first start, from the tray and when a second
// copy of the program asks; closing it keeps the program running in the tray. The
// program loads this document when the window is to show and drops it after the
// window has been hidden a while, so the state that must outlive it is told here.
ApplicationWindow {
    id: window
    title: qsTr("Quorva Link")
    width: DISPLAY_WIDTH
    height: DISPLAY_HEIGHT
    minimumWidth: DISPLAY_WIDTH
    maximumWidth: DISPLAY_WIDTH
    minimumHeight: DISPLAY_HEIGHT
    maximumHeight: DISPLAY_HEIGHT

    readonly property bool chromeShown: myStateGroup.state !== "loading" && myStateGroup.state !== "showLicense"

    // The page the start-up progress chooses until the user picks one.
    readonly property string startPage: printClient.started ? (printClient.hasUpdate ? "loading" : "allSet")
                                                            : (printClient.licenseAccepted ? "loading" : "showLicense")
    property bool pagePicked: false
    // A page the user had picked before the document was last dropped.
    function restorePage(page) {
        myStateGroup.state = page
        pagePicked = true
    }

    function downloadUrl(language) {
        return "https://downloads.quorva.pt" + (language === "pt" ? "/pt" : (language === "es" ? "/es" : "/en"))
    }
    function helpUrl(language) {
        return language === "es" ? "https://ayuda.quorva.pt/es/quorva-link" : "https://ajuda.quorva.pt/pt/quorva-link"
    }
    function supportUrl(language) {
        return language === "es" ? "https://www.quorva.pt/es/contacto" : "https://www.quorva.pt/pt/contactos"
    }
    function openDownloadPage() {
        Qt.openUrlExternally(downloadUrl(printClient.language))
    }

    function openAbout() {
        var component = Qt.createComponent("customComponents/OverlayAbout.qml")
        if (component.status === Component.Ready)
            component.createObject(window.overlay)
        else
            console.warn("OverlayAbout:", component.errorString())
    }

    onClosing: {
        close.accepted = false
        window.hide()
    }

    GlobalSettings {
        id: appSettings
    }

    background: Rectangle {
        color: appSettings.blueBackground
    }

    header: Item {
        height: 80
        visible: window.chromeShown
        Rectangle {
            anchors.fill: parent
            color: appSettings.blueBackground
        }
        Image {
            anchors.centerIn: parent
            source: "qrc:/imgs/qlk-icon-top.png"
            fillMode: Image.PreserveAspectFit
        }
    }

    footer: Item {
        height: 40
        visible: window.chromeShown
        Rectangle {
            anchors.fill: parent
            color: appSettings.blueBackground
        }
        RowLayout {
            objectName: "footerRow"
            anchors.fill: parent
            anchors.leftMargin: 30
            anchors.rightMargin: 30
            spacing: 30

            LinkLabel {
                text: "\u00A9 " + new Date().getFullYear() + " Quorva"
                onClicked: myStateGroup.state = "allSet"
            }
            Item {
                Layout.fillWidth: true
            }
            LinkLabel {
                text: qsTr("Descargas")
                onClicked: window.openDownloadPage()
            }
            Rectangle {
                Layout.preferredWidth: 1
                Layout.preferredHeight: 14
                color: appSettings.lightColor
            }
            LinkLabel {
                text: qsTr("Ajuda")
                onClicked: Qt.openUrlExternally(window.helpUrl(printClient.language))
            }
            Rectangle {
                Layout.preferredWidth: 1
                Layout.preferredHeight: 14
                color: "#BFE0FC"
            }
            LinkLabel {
                text: qsTr("Apoio cliente")
                onClicked: Qt.openUrlExternally(window.supportUrl(printClient.language))
            }
            Rectangle {
                Layout.preferredWidth: 1
                Layout.preferredHeight: 14
                color: appSettings.lightColor
            }
            LinkLabel {
                objectName: "footerLogs"
                visible: printClient.isDebugMode
                text: qsTr("Logs")
                onClicked: myStateGroup.state = "logs"
            }
            Rectangle {
                Layout.preferredWidth: 1
                Layout.preferredHeight: 14
                color: appSettings.lightColor
                visible: printClient.isDebugMode
            }
            LinkLabel {
                objectName: "footerAbout"
                text: qsTr("Sobre")
                onClicked: window.openAbout()
            }
        }
    }

    Initial {
        id: initialPage
        objectName: "initialPage"
        anchors.fill: parent
        anchors.bottomMargin: 10
        visible: false
    }
    Config {
        id: configPage
        objectName: "configPage"
        anchors.fill: parent
        anchors.bottomMargin: 10
        visible: false
    }
    Terminals {
        id: terminalsPage
        objectName: "terminalsPage"
        anchors.fill: parent
        anchors.bottomMargin: 10
        visible: false
    }
    License {
        id: licensePage
        objectName: "licensePage"
        anchors.fill: parent
        anchors.bottomMargin: 10
        visible: false
    }
    Logs {
        id: logsPage
        objectName: "logsPage"
        anchors.fill: parent
        anchors.topMargin: 10
        anchors.bottomMargin: 10
        visible: false
    }
    // Splash while starting, and the update screen when a newer version exists.
    Item {
        id: initiating
        objectName: "initiating"
        anchors.fill: parent
        visible: false

        Column {
            anchors.centerIn: parent
            spacing: 50

            Image {
                anchors.horizontalCenter: parent.horizontalCenter
                source: "qrc:/imgs/qlk-icon-splashscreen.png"
                fillMode: Image.PreserveAspectFit
            }

            Item {
                anchors.horizontalCenter: parent.horizontalCenter
                visible: !printClient.hasUpdate
                width: 64
                height: 64 - 15 // 35 pixels below the image, with the column's spacing
                AnimatedSprite {
                    objectName: "splashBusy"
                    anchors.horizontalCenter: parent.horizontalCenter
                    y: -15
                    width: 64
                    height: 64
                    source: "qrc:/imgs/busy_indicator_white.png"
                    frameCount: 12
                    frameWidth: 64
                    frameHeight: 64
                    frameRate: 30
                    loops: AnimatedSprite.Infinite
                    running: initiating.visible && parent.visible
                }
            }

            RectangleShadow {
                objectName: "updateBox"
                anchors.horizontalCenter: parent.horizontalCenter
                visible: printClient.hasUpdate
                width: 496
                height: 181

                Image {
                    id: updateIllustration
                    anchors.left: parent.left
                    anchors.leftMargin: 30
                    anchors.verticalCenter: parent.verticalCenter
                    source: "qrc:/imgs/illustration-3.png"
                }
                Column {
                    anchors.left: updateIllustration.right
                    anchors.leftMargin: 24
                    anchors.right: parent.right
                    anchors.rightMargin: 24
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 8

                    Text {
                        width: parent.width
                        text: qsTr("Atualização disponível!")
                        font.family: appSettings.appFontMedium.name
                        font.weight: appSettings.mediumWeight
                        font.pixelSize: 18
                        color: appSettings.titleColor
                        elide: Text.ElideRight
                    }
                    Text {
                        width: parent.width
                        text: qsTr("Uma nova versão do Quorva Link \nestá disponível para descarregar.")
                        font.family: appSettings.appFontRegular.name
                        font.pixelSize: 14
                        color: appSettings.newVersion
                        wrapMode: Text.WordWrap
                    }
                    Row {
                        spacing: 12
                        topPadding: 6

                        Button {
                            objectName: "laterButton"
                            width: 117
                            height: 45
                            contentItem: Text {
                                text: qsTr("Mais tarde")
                                font.family: appSettings.appFontRegular.name
                                font.pixelSize: 14
                                color: appSettings.subTitleColor
                                horizontalAlignment: Text.AlignHCenter
                                verticalAlignment: Text.AlignVCenter
                            }
                            background: Rectangle {
                                color: "transparent"
                                border.color: appSettings.subTitleColor
                                radius: 4
                            }
                            onClicked: myStateGroup.state = "allSet"
                            MouseArea {
                                anchors.fill: parent
                                cursorShape: Qt.PointingHandCursor
                                acceptedButtons: Qt.NoButton
                            }
                        }
                        Button {
                            id: updateButton
                            objectName: "updateButton"
                            width: 117
                            height: 45
                            contentItem: Text {
                                text: qsTr("Atualizar")
                                font.family: appSettings.appFontRegular.name
                                font.pixelSize: 14
                                color: "white"
                                horizontalAlignment: Text.AlignHCenter
                                verticalAlignment: Text.AlignVCenter
                            }
                            background: Rectangle {
                                color: updateButton.pressed ? "#006dcc" : "#0082F2"
                                radius: 4
                            }
                            onClicked: window.openDownloadPage()
                            MouseArea {
                                anchors.fill: parent
                                cursorShape: Qt.PointingHandCursor
                                acceptedButtons: Qt.NoButton
                            }
                        }
                    }
                }
            }
        }

        Column {
            anchors.left: parent.left
            anchors.bottom: parent.bottom
            anchors.margins: 40
            spacing: 6
            Text {
                text: "Powered by"
                font.family: appSettings.appFontRegular.name
                font.pixelSize: 12
                color: "#99CDFA"
            }
            Image {
                height: 30
                width: 300 * height / 52
                source: "qrc:/imgs/qlk-logo-white.png"
                fillMode: Image.PreserveAspectFit
            }
        }
    }

    StateGroup {
        id: myStateGroup
        objectName: "myStateGroup"
        // Until the first click picks a page, the start-up progress decides.
        state: window.startPage
        onStateChanged: {
            if (state !== window.startPage)
                window.pagePicked = true
        }
        states: [
            State {
                name: "allSet"
                PropertyChanges { target: initialPage; visible: true }
            },
            State {
                name: "config"
                PropertyChanges { target: configPage; visible: true }
            },
            State {
                name: "terminals"
                PropertyChanges { target: terminalsPage; visible: true }
            },
            State {
                name: "logs"
                PropertyChanges { target: logsPage; visible: true }
            },
            State {
                name: "loading"
                PropertyChanges { target: initiating; visible: true }
            },
            State {
                name: "showLicense"
                PropertyChanges { target: licensePage; visible: true }
            }
        ]
    }

    Timer {
        id: copyTimer
        objectName: "copyTimer"
        interval: 3000
        onTriggered: initialPage.copied = false
    }
}

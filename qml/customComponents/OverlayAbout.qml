import QtQuick 2.15

// The About card over a dimmed window; built anew at each opening and destroyed when closed.
Rectangle {
    id: overlay
    objectName: "overlayAbout"
    anchors.fill: parent
    color: Qt.rgba(0, 0, 0, 0.35)
    focus: true
    Component.onCompleted: forceActiveFocus()

    property bool closing: false

    function close() {
        if (closing)
            return
        closing = true
        closeAnimation.start()
    }

    Keys.onEscapePressed: close()

    // A click outside the card closes the overlay.
    MouseArea {
        anchors.fill: parent
        onClicked: overlay.close()
    }

    Rectangle {
        id: card
        objectName: "aboutCard"
        anchors.centerIn: parent
        width: 430
        // Many addresses could make the card taller than the window: it then stops at
        // the window's edge and its content scrolls.
        // The trust row adds 46 pixels, and its result message its own height once shown.
        readonly property real fullHeight: (printClient.hasUpdate ? 430 : 280) + 46 + 30 * printClient.ipAddresses.length
                                           + (trustMessage.visible ? trustMessage.height + 6 : 0)
        height: Math.min(fullHeight, overlay.height - 40)
        radius: 8
        color: appSettings.white
        scale: 0
        opacity: 0

        // Clicks on the card stay on the card.
        MouseArea {
            anchors.fill: parent
        }

        Flickable {
            objectName: "aboutContent"
            anchors.fill: parent
            anchors.topMargin: 21
            anchors.leftMargin: 26
            anchors.rightMargin: 26
            clip: true
            contentHeight: content.height + 21
            boundsBehavior: Flickable.StopAtBounds
            interactive: contentHeight > height

            Column {
                id: content
                width: parent.width

                Image {
                    source: "qrc:/imgs/logo_quorva_cabecalho.png"
                    width: Math.min(175, implicitWidth)
                    height: Math.min(35, implicitHeight)
                    fillMode: Image.PreserveAspectFit
                }

                Row {
                    topPadding: 39
                    spacing: 12
                    Image {
                        objectName: "versionIcon"
                        anchors.verticalCenter: parent.verticalCenter
                        anchors.verticalCenterOffset: parent.topPadding / 2
                        source: printClient.hasUpdate ? "qrc:/imgs/qlk-version-alert.png" : "qrc:/imgs/qlk-version-updated.png"
                    }
                    Column {
                        Text {
                            text: printClient.hasUpdate ? qsTr("O Quorva Link está desatualizado") : qsTr("O Quorva Link está atualizado")
                            font.family: appSettings.appFontMedium.name
                            font.weight: appSettings.mediumWeight
                            font.pixelSize: 16
                            color: appSettings.titleColor
                        }
                        Text {
                            text: qsTr("Versão: ") + RELEASENAME
                            font.family: appSettings.appFontRegular.name
                            font.pixelSize: 14
                            color: "#7E8BA3"
                        }
                    }
                }

                Column {
                    objectName: "aboutRows"
                    topPadding: 20
                    width: parent.width

                    AboutRow {
                        label: qsTr("Data:")
                        value: RELEASEDATE
                    }
                    AboutRow {
                        label: qsTr("Sistema operativo:")
                        value: OSDATA
                    }
                    Repeater {
                        objectName: "ipRows"
                        model: printClient.ipAddresses
                        delegate: AboutRow {
                            id: ipRow
                            objectName: "ipRow" + index
                            property bool copied: false
                            label: qsTr("IP:")
                            value: modelData

                            Image {
                                objectName: "copyIcon"
                                anchors.verticalCenter: parent.verticalCenter
                                source: "qrc:/imgs/copy-key.png"
                                scale: 0.7
                                MouseArea {
                                    anchors.fill: parent
                                    cursorShape: Qt.PointingHandCursor
                                    onClicked: {
                                        printClient.clipboard(ipRow.value)
                                        ipRow.copied = true
                                        copiedTimer.restart()
                                    }
                                }
                            }
                            Text {
                                objectName: "copiedText"
                                anchors.verticalCenter: parent.verticalCenter
                                visible: ipRow.copied
                                text: qsTr("Copiado!")
                                font.family: appSettings.appFontRegular.name
                                font.pixelSize: 12
                                color: appSettings.btnSwitch4
                            }
                            Timer {
                                id: copiedTimer
                                interval: 3000
                                onTriggered: ipRow.copied = false
                            }
                        }
                    }

                    Row {
                        topPadding: 10
                        spacing: 8
                        height: 40
                        SubTitle {
                            anchors.verticalCenter: parent.verticalCenter
                            anchors.verticalCenterOffset: parent.topPadding / 2
                            text: qsTr("Modo Compatibilidade")
                            font.pixelSize: 14
                            lineHeight: 30
                        }
                        MainTitle {
                            objectName: "compatibilityText"
                            anchors.verticalCenter: parent.verticalCenter
                            anchors.verticalCenterOffset: parent.topPadding / 2
                            text: printClient.compatibilityMode ? qsTr("Ativo") : qsTr("Desativo")
                            font.pixelSize: 14
                            lineHeight: 30
                        }
                        CustomSwitch {
                            id: compatibilitySwitch
                            objectName: "compatibilitySwitch"
                            property bool ready: false
                            anchors.verticalCenter: parent.verticalCenter
                            anchors.verticalCenterOffset: parent.topPadding / 2 - 3
                            Component.onCompleted: {
                                checked = printClient.compatibilityMode
                                ready = true
                            }
                            onCheckedChanged: {
                                if (ready)
                                    printClient.compatibilityMode = checked
                            }
                        }
                    }
                }

                // Makes this user's browsers trust the connector's own certificate, so the
                // web application can call https://localhost; says where and what failed.
                Column {
                    topPadding: 10
                    spacing: 6
                    width: parent.width
                    PageButton {
                        objectName: "trustButton"
                        filled: true
                        width: 200
                        text: qsTr("Confiar no certificado")
                        onClicked: trustMessage.text = printClient.trustCertificate()
                    }
                    Text {
                        id: trustMessage
                        objectName: "trustMessage"
                        visible: text.length > 0
                        width: parent.width
                        wrapMode: Text.WrapAnywhere
                        font.family: appSettings.appFontRegular.name
                        font.pixelSize: 12
                        color: appSettings.subTitleColor
                    }
                }

                Item {
                    width: 1
                    height: 29
                    visible: printClient.hasUpdate
                }

                Rectangle {
                    objectName: "aboutUpdateBox"
                    visible: printClient.hasUpdate
                    width: 368
                    height: 108
                    radius: 2
                    color: "#F2F3F7"

                    Image {
                        id: boxIllustration
                        anchors.left: parent.left
                        anchors.leftMargin: 12
                        anchors.verticalCenter: parent.verticalCenter
                        height: 84
                        width: 87
                        fillMode: Image.PreserveAspectFit
                        source: "qrc:/imgs/illustration-3.png"
                    }
                    Column {
                        anchors.left: boxIllustration.right
                        anchors.leftMargin: 16
                        anchors.right: parent.right
                        anchors.rightMargin: 12
                        anchors.verticalCenter: parent.verticalCenter
                        spacing: 8
                        CommonLabelMedium {
                            width: parent.width
                            text: qsTr("Atualização disponível.")
                            font.pixelSize: 14
                            color: appSettings.titleColor
                            elide: Text.ElideRight
                        }
                        Rectangle {
                            objectName: "downloadButton"
                            width: 117
                            height: 45
                            radius: 4
                            color: downloadArea.pressed ? "#006dcc" : "#0082F2"
                            Text {
                                anchors.centerIn: parent
                                text: qsTr("Descarregar")
                                font.family: appSettings.appFontRegular.name
                                font.pixelSize: 14
                                color: "white"
                            }
                            MouseArea {
                                id: downloadArea
                                anchors.fill: parent
                                cursorShape: Qt.PointingHandCursor
                                onClicked: window.openDownloadPage()
                            }
                        }
                    }
                }
            }
        }

        Image {
            objectName: "closeIcon"
            anchors.top: parent.top
            anchors.right: parent.right
            anchors.topMargin: 21
            anchors.rightMargin: 21
            width: 18
            height: 18
            source: "qrc:/imgs/qlk-version-close.png"
            MouseArea {
                anchors.fill: parent
                anchors.margins: -6
                cursorShape: Qt.PointingHandCursor
                onClicked: overlay.close()
            }
        }
    }

    ParallelAnimation {
        id: openAnimation
        running: true
        NumberAnimation { target: card; property: "scale"; from: 0; to: 1; duration: 200; easing.type: Easing.OutBack }
        NumberAnimation { target: card; property: "opacity"; from: 0; to: 1; duration: 200; easing.type: Easing.OutBack }
    }

    SequentialAnimation {
        id: closeAnimation
        ParallelAnimation {
            NumberAnimation { target: card; property: "scale"; to: 0; duration: 200; easing.type: Easing.InBack }
            NumberAnimation { target: card; property: "opacity"; to: 0; duration: 200; easing.type: Easing.InBack }
        }
        ScriptAction {
            script: {
                if (window.contentItem.children.length > 0)
                    window.contentItem.children[0].forceActiveFocus()
                overlay.destroy()
            }
        }
    }
}

import QtQuick 2.15
import QtQuick.Layouts 1.15
import "customComponents"

// The start page: service switch, security key and the two device cards.
Item {
    id: page
    // A click on the key asks for a copy; it is carried out while this page is shown.
    property string pendingCopy: ""
    property bool copied: false

    function flushCopy() {
        if (pendingCopy !== "" && myStateGroup.state === "allSet") {
            printClient.clipboard(pendingCopy)
            copyTimer.restart()
            pendingCopy = ""
        }
    }
    function copyKey() {
        pendingCopy = printClient.securityKey
        copied = true
    }

    onPendingCopyChanged: flushCopy()
    Connections {
        target: myStateGroup
        function onStateChanged() {
            page.flushCopy()
        }
    }

    PageFrame {
        anchors.fill: parent
        title: qsTr("Configuração de dispositivos")
        subtitle: qsTr("Escolha o tipo de dispositivo que pretende configurar")
        panel.insideColor: appSettings.greyBackground
        panel.color: "transparent"

        ColumnLayout {
            anchors.fill: parent
            anchors.topMargin: 4
            anchors.bottomMargin: 4
            spacing: 24

            RectangleShadow {
                objectName: "serviceCard"
                Layout.fillWidth: true
                Layout.preferredHeight: serviceError.visible ? 106 : 84

                ColumnLayout {
                    anchors.fill: parent
                    anchors.leftMargin: 24
                    anchors.rightMargin: 24
                    anchors.topMargin: 10
                    anchors.bottomMargin: 10
                    spacing: 0

                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 12
                        Text {
                            Layout.fillWidth: true
                            text: qsTr("Estado do serviço")
                            font.family: appSettings.appFontMedium.name
                            font.weight: appSettings.mediumWeight
                            font.pixelSize: 18
                            color: appSettings.titleColor
                            elide: Text.ElideRight
                        }
                        Text {
                            objectName: "serviceStateText"
                            // On only when something listens: a switch that is on over a port
                            // another program holds is a stopped service.
                            text: !printClient.serverActive ? qsTr("Desativo")
                                                            : (printClient.serverListening ? qsTr("Ativo") : qsTr("Parado"))
                            font.family: appSettings.appFontRegular.name
                            font.pixelSize: 14
                            color: appSettings.titleColor
                        }
                        CustomSwitch {
                            id: serviceSwitch
                            objectName: "serviceSwitch"
                            Layout.topMargin: -6
                            onCheckedChanged: {
                                if (printClient.serverActive !== checked)
                                    printClient.serverActive = checked
                            }
                            // Follows the state also when the tray menu changes it.
                            Binding on checked {
                                value: printClient.serverActive
                            }
                        }
                    }

                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 10
                        Text {
                            text: qsTr("Chave de segurança:")
                            font.family: appSettings.appFontRegular.name
                            font.pixelSize: 16
                            color: appSettings.titleColor
                        }
                        Text {
                            objectName: "securityKey"
                            text: printClient.securityKey
                            font.family: appSettings.appFontRegular.name
                            font.pixelSize: 16
                            color: appSettings.subTitleColor
                            MouseArea {
                                anchors.fill: parent
                                cursorShape: Qt.PointingHandCursor
                                onClicked: page.copyKey()
                            }
                        }
                        Image {
                            objectName: "copyKeyIcon"
                            source: "qrc:/imgs/copy-key.png"
                            MouseArea {
                                anchors.fill: parent
                                cursorShape: Qt.PointingHandCursor
                                onClicked: page.copyKey()
                            }
                        }
                        Text {
                            objectName: "copiedText"
                            visible: page.copied
                            text: qsTr("Copiado!")
                            font.family: appSettings.appFontRegular.name
                            font.pixelSize: 12
                            color: appSettings.btnSwitch4
                        }
                        Item {
                            Layout.fillWidth: true
                        }
                    }

                    Text {
                        id: serviceError
                        objectName: "serviceError"
                        Layout.fillWidth: true
                        visible: printClient.serverError !== ""
                        text: printClient.serverError
                        font.family: appSettings.appFontRegular.name
                        font.pixelSize: 13
                        color: "#C62828"
                        elide: Text.ElideRight
                    }
                }
            }

            RowLayout {
                Layout.fillWidth: true
                Layout.fillHeight: true
                spacing: 24

                DeviceCard {
                    objectName: "printerCard"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    illustration: "qrc:/imgs/illustration-1.png"
                    title: qsTr("Impressoras")
                    subtitle: qsTr("Configurar impressoras no ponto de venda.")
                    onClicked: myStateGroup.state = "config"
                }
                DeviceCard {
                    objectName: "terminalCard"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    // The Spanish edition offers printers only.
                    visible: printClient.language !== "es"
                    illustration: "qrc:/imgs/illustration-2.png"
                    title: qsTr("Terminais de pagamento automático (TPA)")
                    subtitle: qsTr("Configurar terminais no ponto de venda.")
                    onClicked: myStateGroup.state = "terminals"
                }
            }
        }
    }
}

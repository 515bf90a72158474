import QtQuick 2.15
import Printer 1.0
import "../customComponents"

// One printer: name with a test print, ready badge and the switch that makes it available to the web app.
Item {
    id: row
    property var printer: modelData

    width: ListView.view ? ListView.view.width : 0
    height: 52

    Row {
        id: nameColumn
        width: parent.width / 2 - 12
        anchors.verticalCenter: parent.verticalCenter
        spacing: 10

        CommonLabelRegular {
            objectName: "printerName"
            anchors.verticalCenter: parent.verticalCenter
            width: Math.min(implicitWidth, nameColumn.width - testButton.width - testResult.width - 2 * nameColumn.spacing)
            text: row.printer ? row.printer.name : ""
            font.pixelSize: 16
            color: appSettings.listColor
            elide: Text.ElideRight

            MouseArea {
                anchors.fill: parent
                onClicked: {
                    if (printClient.isDebugMode && parent.text !== "")
                        printClient.clipboard(parent.text)
                }
            }
        }

        // A short receipt in the window's language; only a ready printer takes one.
        Rectangle {
            id: testButton
            objectName: "testPrintButton"
            readonly property bool printing: !!row.printer && row.printer.testPrint === Printer.TestPrinting
            anchors.verticalCenter: parent.verticalCenter
            enabled: !!row.printer && row.printer.state && !printing
            width: testLabel.implicitWidth + 16
            height: 26
            radius: 4
            color: testArea.containsMouse ? appSettings.btnHoverOn : "transparent"
            border.color: enabled ? appSettings.subTitleColor : appSettings.scrollbarColor

            Text {
                id: testLabel
                anchors.centerIn: parent
                text: testButton.printing ? qsTr("A imprimir…") : qsTr("Imprimir teste")
                font.family: appSettings.appFontRegular.name
                font.pixelSize: 12
                color: testButton.enabled ? appSettings.subTitleColor : appSettings.scrollbarColor
            }
            MouseArea {
                id: testArea
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onClicked: row.printer.printTest(printClient.compatibilityMode)
            }
        }

        // Whether the spooler took the last test print.
        Text {
            id: testResult
            objectName: "testPrintResult"
            readonly property bool sent: !!row.printer && row.printer.testPrint === Printer.TestSent
            anchors.verticalCenter: parent.verticalCenter
            visible: sent || (!!row.printer && row.printer.testPrint === Printer.TestFailed)
            width: visible ? implicitWidth : 0
            text: sent ? qsTr("Enviado") : qsTr("Falhou")
            font.family: appSettings.appFontRegular.name
            font.pixelSize: 12
            color: sent ? "#0D513C" : "#662A2A"
        }
    }

    Rectangle {
        objectName: "stateBadge"
        x: parent.width / 2 + (parent.width / 4 - width) / 2
        anchors.verticalCenter: parent.verticalCenter
        width: 100
        height: 28
        radius: 6
        color: row.printer && row.printer.state ? "#C8F2E5" : "#FFD9D9"

        Text {
            anchors.centerIn: parent
            width: parent.width - 8
            horizontalAlignment: Text.AlignHCenter
            elide: Text.ElideRight
            text: row.printer && row.printer.state ? qsTr("Ligado") : qsTr("Desligado")
            font.family: appSettings.appFontRegular.name
            font.pixelSize: 14
            color: row.printer && row.printer.state ? "#0D513C" : "#662A2A"
        }
    }

    Row {
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        spacing: 12

        CommonLabelMedium {
            objectName: "availableText"
            anchors.verticalCenter: parent.verticalCenter
            text: row.printer && row.printer.available ? qsTr("Ativo") : qsTr("Inativo")
            font.pixelSize: 14
            color: appSettings.titleColor
        }
        CustomSwitch {
            id: availableSwitch
            objectName: "availableSwitch"
            anchors.verticalCenter: parent.verticalCenter
            anchors.verticalCenterOffset: -3
            checked: row.printer ? row.printer.available : false
            onCheckedChanged: {
                if (row.printer && row.printer.available !== checked)
                    row.printer.available = checked
            }
        }
    }

    Rectangle {
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: appSettings.greyBackground
    }
}

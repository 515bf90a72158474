import QtQuick 2.15
import "../customComponents"

// One printer: name, ready badge and the switch that makes it available to the web app.
Item {
    id: row
    property var printer: modelData

    width: ListView.view ? ListView.view.width : 0
    height: 52

    CommonLabelRegular {
        objectName: "printerName"
        width: parent.width / 2 - 12
        anchors.verticalCenter: parent.verticalCenter
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

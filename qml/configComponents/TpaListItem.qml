import QtQuick 2.15
import "../customComponents"

// One payment terminal: name, badge and the switch that makes it available to the web app.
Item {
    id: row
    property var tpa: modelData

    width: ListView.view ? ListView.view.width : 0
    height: 52

    CommonLabelRegular {
        objectName: "tpaName"
        width: parent.width / 2 - 12
        anchors.verticalCenter: parent.verticalCenter
        text: row.tpa ? row.tpa.name : ""
        font.pixelSize: 16
        color: appSettings.listColor
        elide: Text.ElideRight
    }

    // A terminal found on a port counts as connected; its own state shows in the web app.
    Rectangle {
        objectName: "stateBadge"
        x: parent.width / 2 + (parent.width / 4 - width) / 2
        anchors.verticalCenter: parent.verticalCenter
        width: 100
        height: 28
        radius: 6
        color: "#C8F2E5"

        Text {
            anchors.centerIn: parent
            width: parent.width - 8
            horizontalAlignment: Text.AlignHCenter
            elide: Text.ElideRight
            text: qsTr("Ligado")
            font.family: appSettings.appFontRegular.name
            font.pixelSize: 14
            color: "#0D513C"
        }
    }

    Row {
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        spacing: 12

        CommonLabelMedium {
            objectName: "availableText"
            anchors.verticalCenter: parent.verticalCenter
            text: row.tpa && row.tpa.available ? qsTr("Ativo") : qsTr("Inativo")
            font.pixelSize: 14
            color: appSettings.titleColor
        }
        CustomSwitch {
            objectName: "availableSwitch"
            anchors.verticalCenter: parent.verticalCenter
            anchors.verticalCenterOffset: -3
            checked: row.tpa ? row.tpa.available : false
            onCheckedChanged: {
                if (row.tpa && row.tpa.available !== checked)
                    row.tpa.available = checked
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

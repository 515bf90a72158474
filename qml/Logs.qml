import QtQuick 2.15
import "customComponents"

// The newest captured log lines (debug mode only).
Item {
    id: page

    PageFrame {
        anchors.fill: parent
        title: qsTr("Logs")
        subtitle: qsTr("Consulte os logs")
        panelTopMargin: 4

        CommonLabelMedium {
            id: messageLabel
            x: 20
            y: 14
            text: qsTr("Mensagem")
            font.pixelSize: 16
            color: appSettings.titleColor
        }

        Rectangle {
            anchors.top: messageLabel.bottom
            anchors.topMargin: 18
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            anchors.leftMargin: 20
            anchors.rightMargin: 20
            anchors.bottomMargin: 27
            color: "transparent"
            border.color: appSettings.subTitleColor

            ListView {
                objectName: "logList"
                anchors.fill: parent
                anchors.margins: 8
                clip: true
                spacing: 4
                boundsBehavior: Flickable.StopAtBounds
                model: printClient.debugMessages
                delegate: Text {
                    width: ListView.view.width
                    text: modelData
                    textFormat: Text.PlainText
                    wrapMode: Text.WrapAnywhere
                    font.family: appSettings.appFontRegular.name
                    font.pixelSize: 12
                    color: appSettings.titleColor
                }
            }
        }

        buttons: [
            PageButton {
                objectName: "backButton"
                text: qsTr("Voltar")
                onClicked: myStateGroup.state = "allSet"
            }
        ]
    }
}

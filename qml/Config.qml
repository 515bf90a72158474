import QtQuick 2.15
import "customComponents"
import "configComponents"

// The printers and their switches.
Item {
    id: page

    PageFrame {
        anchors.fill: parent
        title: qsTr("Configuração de impressora")
        subtitle: qsTr("Defina as configurações das impressoras no terminal do ponto de venda")

        DeviceListPanel {
            objectName: "printerPanel"
            model: printClient.printers
            nameHeader: qsTr("Impressoras")
            stateHeader: qsTr("Estado")
            availableHeader: qsTr("Disponível")
            emptyText: qsTr("Não foi encontrada nenhuma impressora")
            delegate: PrinterListItem {}
        }

        buttons: [
            PageButton {
                objectName: "backButton"
                text: qsTr("Voltar")
                onClicked: myStateGroup.state = "allSet"
            },
            PageButton {
                objectName: "refreshButton"
                filled: true
                text: qsTr("Atualizar lista")
                onClicked: printClient.updatePrinters()
            }
        ]
    }
}

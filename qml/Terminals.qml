import QtQuick 2.15
import "customComponents"
import "configComponents"

// The payment terminals and their switches.
Item {
    id: page

    PageFrame {
        anchors.fill: parent
        title: qsTr("Configuração de terminais de pagamento automático (TPA)")
        subtitle: qsTr("Defina as configurações dos terminais de pagamento no ponto de venda")

        DeviceListPanel {
            objectName: "tpaPanel"
            model: printClient.tpas
            nameHeader: qsTr("Terminais")
            stateHeader: qsTr("Estado")
            availableHeader: qsTr("Disponível")
            emptyText: qsTr("Não foi encontrado nenhum terminal")
            headerWhenEmpty: false
            busyBlocksInput: true
            delegate: TpaListItem {}
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
                onClicked: printClient.updateTpas()
            }
        ]
    }
}

import QtQuick 2.15
import "customComponents"

// The terms of use; accepting them starts the service.
Item {
    id: page

    RectangleShadow {
        id: termsPanel
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: acceptButton.top
        anchors.topMargin: 30
        anchors.leftMargin: 30
        anchors.rightMargin: 30
        anchors.bottomMargin: 14

        Flickable {
            id: termsView
            objectName: "termsView"
            anchors.fill: parent
            anchors.margins: 20
            clip: true
            contentWidth: width
            contentHeight: termsText.paintedHeight
            boundsBehavior: Flickable.StopAtBounds

            Text {
                id: termsText
                width: termsView.width - 16
                textFormat: Text.RichText
                wrapMode: Text.WordWrap
                font.family: appSettings.appFontRegular.name
                font.pixelSize: 14
                color: appSettings.titleColor
                text: qsTr("<h2>Termos de Utilização</h2>"
                           + "<p>Estes termos regem a utilização do Quorva Link, o conector de ambiente de trabalho que liga a aplicação de ponto de venda Quorva às impressoras e aos terminais de pagamento deste computador. Ao aceitar, declara que os leu e que os aceita em nome próprio ou da entidade que representa.</p>"
                           + "<h3>1. Objeto</h3>"
                           + "<p>1.1. O Quorva Link disponibiliza, apenas neste computador, um serviço local que permite à aplicação Quorva imprimir talões e comunicar com terminais de pagamento automático (TPA).</p>"
                           + "<p>1.2. O serviço só responde a pedidos que apresentem a chave de segurança mostrada na página inicial.</p>"
                           + "<h3>2. Licença</h3>"
                           + "<p>2.1. A Quorva concede uma licença pessoal, não exclusiva e intransmissível para instalar e utilizar o Quorva Link em conjunto com uma subscrição válida da aplicação Quorva.</p>"
                           + "<p>2.2. Não é permitido copiar, modificar, descompilar ou distribuir o Quorva Link, exceto na medida em que a lei o permita expressamente.</p>"
                           + "<h3>3. Obrigações do utilizador</h3>"
                           + "<p>3.1. O utilizador guarda a chave de segurança em sigilo e só a introduz na aplicação Quorva.</p>"
                           + "<p>3.2. O utilizador é responsável pela configuração das impressoras e dos terminais que disponibiliza e pela conformidade dos documentos emitidos com a legislação aplicável.</p>"
                           + "<h3>4. Pagamentos</h3>"
                           + "<p>4.1. As operações de pagamento são processadas pelo terminal e pela entidade que o disponibiliza; o Quorva Link limita-se a transmitir os pedidos e as respostas.</p>"
                           + "<p>4.2. Em caso de dúvida sobre o resultado de uma operação, prevalece o talão emitido pelo terminal.</p>"
                           + "<h3>5. Dados pessoais</h3>"
                           + "<p>5.1. O Quorva Link não envia para a Quorva o conteúdo dos talões nem os dados dos pagamentos. Para verificar se existem atualizações envia apenas o número da versão instalada.</p>"
                           + "<h3>6. Atualizações</h3>"
                           + "<p>6.1. A Quorva pode disponibilizar novas versões. Manter o Quorva Link atualizado é necessário para garantir a segurança e o bom funcionamento do serviço.</p>"
                           + "<h3>7. Responsabilidade</h3>"
                           + "<p>7.1. O Quorva Link é fornecido no estado em que se encontra. Na medida máxima permitida por lei, a Quorva não responde por danos indiretos, lucros cessantes ou perda de dados resultantes da sua utilização.</p>"
                           + "<h3>8. Lei aplicável</h3>"
                           + "<p>8.1. Estes termos regem-se pela lei portuguesa. Para qualquer litígio é competente o foro da comarca de Lisboa, salvo disposição legal imperativa em contrário.</p>")
            }
        }

        // Position bar of the terms; it does not take the mouse.
        Rectangle {
            objectName: "termsScrollBar"
            width: 4
            radius: 8
            color: "black"
            x: parent.width - 4 - width
            y: termsView.y + termsView.visibleArea.yPosition * termsView.height
            height: termsView.visibleArea.heightRatio * termsView.height
            visible: termsView.contentHeight > termsView.height
        }
    }

    Rectangle {
        id: acceptButton
        objectName: "acceptButton"
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.rightMargin: 30
        anchors.bottomMargin: 15
        // Wide enough for the longer translations of the label.
        width: Math.max(350, acceptLabel.implicitWidth + 32)
        height: 36
        radius: 4
        color: appSettings.titleColor

        Text {
            id: acceptLabel
            anchors.centerIn: parent
            text: qsTr("ACEITO OS TERMOS DE UTILIZAÇÃO DO QUORVA")
            font.family: appSettings.appFontRegular.name
            font.pixelSize: 14
            color: "white"
        }
        MouseArea {
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: printClient.licenseAccepted = true
        }
    }
}

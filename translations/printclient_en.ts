<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="pt_PT">
<context>
    <name>Config</name>
    <message>
        <location filename="../qml/Config.qml" line="+11"/>
        <source>Configuração de impressora</source>
        <translation>Printer&apos;s configuration</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Defina as configurações das impressoras no terminal do ponto de venda</source>
        <translation>Set printers configurations on the point of sale&apos;s terminal</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Impressoras</source>
        <translation>Printers</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Estado</source>
        <translation>Status</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Disponível</source>
        <translation>Available</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Não foi encontrada nenhuma impressora</source>
        <translation>No printer found</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Voltar</source>
        <translation>Back</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Atualizar lista</source>
        <translation>Update list</translation>
    </message>
</context>
<context>
    <name>Initial</name>
    <message>
        <location filename="../qml/Initial.qml" line="+34"/>
        <source>Configuração de dispositivos</source>
        <translation>Devices configuration</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Escolha o tipo de dispositivo que pretende configurar</source>
        <translation>Choose the device you want to configure</translation>
    </message>
    <message>
        <location line="+28"/>
        <source>Estado do serviço</source>
        <translation>Service status</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Ativo</source>
        <translation>Enabled</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Desativo</source>
        <translation>Disabled</translation>
    </message>
    <message>
        <source>Parado</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <location line="+24"/>
        <source>Chave de segurança:</source>
        <translation>Security key:</translation>
    </message>
    <message>
        <location line="+29"/>
        <source>Copiado!</source>
        <translation>Copied!</translation>
    </message>
    <message>
        <location line="+22"/>
        <source>Impressoras</source>
        <translation>Printers</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Configurar impressoras no ponto de venda.</source>
        <translation>Set up printers on the point of sale.</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>Terminais de pagamento automático (TPA)</source>
        <translation>Payment terminals</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Configurar terminais no ponto de venda.</source>
        <translation>Set up payment terminals on the point of sale.</translation>
    </message>
</context>
<context>
    <name>License</name>
    <message>
        <location filename="../qml/License.qml" line="+37"/>
        <source>&lt;h2&gt;Termos de Utilização&lt;/h2&gt;&lt;p&gt;Estes termos regem a utilização do Quorva Link, o conector de ambiente de trabalho que liga a aplicação de ponto de venda Quorva às impressoras e aos terminais de pagamento deste computador. Ao aceitar, declara que os leu e que os aceita em nome próprio ou da entidade que representa.&lt;/p&gt;&lt;h3&gt;1. Objeto&lt;/h3&gt;&lt;p&gt;1.1. O Quorva Link disponibiliza, apenas neste computador, um serviço local que permite à aplicação Quorva imprimir talões e comunicar com terminais de pagamento automático (TPA).&lt;/p&gt;&lt;p&gt;1.2. O serviço só responde a pedidos que apresentem a chave de segurança mostrada na página inicial.&lt;/p&gt;&lt;h3&gt;2. Licença&lt;/h3&gt;&lt;p&gt;2.1. A Quorva concede uma licença pessoal, não exclusiva e intransmissível para instalar e utilizar o Quorva Link em conjunto com uma subscrição válida da aplicação Quorva.&lt;/p&gt;&lt;p&gt;2.2. Não é permitido copiar, modificar, descompilar ou distribuir o Quorva Link, exceto na medida em que a lei o permita expressamente.&lt;/p&gt;&lt;h3&gt;3. Obrigações do utilizador&lt;/h3&gt;&lt;p&gt;3.1. O utilizador guarda a chave de segurança em sigilo e só a introduz na aplicação Quorva.&lt;/p&gt;&lt;p&gt;3.2. O utilizador é responsável pela configuração das impressoras e dos terminais que disponibiliza e pela conformidade dos documentos emitidos com a legislação aplicável.&lt;/p&gt;&lt;h3&gt;4. Pagamentos&lt;/h3&gt;&lt;p&gt;4.1. As operações de pagamento são processadas pelo terminal e pela entidade que o disponibiliza; o Quorva Link limita-se a transmitir os pedidos e as respostas.&lt;/p&gt;&lt;p&gt;4.2. Em caso de dúvida sobre o resultado de uma operação, prevalece o talão emitido pelo terminal.&lt;/p&gt;&lt;h3&gt;5. Dados pessoais&lt;/h3&gt;&lt;p&gt;5.1. O Quorva Link não envia para a Quorva o conteúdo dos talões nem os dados dos pagamentos. Para verificar se existem atualizações envia apenas o número da versão instalada.&lt;/p&gt;&lt;h3&gt;6. Atualizações&lt;/h3&gt;&lt;p&gt;6.1. A Quorva pode disponibilizar novas versões. Manter o Quorva Link atualizado é necessário para garantir a segurança e o bom funcionamento do serviço.&lt;/p&gt;&lt;h3&gt;7. Responsabilidade&lt;/h3&gt;&lt;p&gt;7.1. O Quorva Link é fornecido no estado em que se encontra. Na medida máxima permitida por lei, a Quorva não responde por danos indiretos, lucros cessantes ou perda de dados resultantes da sua utilização.&lt;/p&gt;&lt;h3&gt;8. Lei aplicável&lt;/h3&gt;&lt;p&gt;8.1. Estes termos regem-se pela lei portuguesa. Para qualquer litígio é competente o foro da comarca de Lisboa, salvo disposição legal imperativa em contrário.&lt;/p&gt;</source>
        <translation>&lt;h2&gt;Terms of Use&lt;/h2&gt;&lt;p&gt;These terms govern the use of Quorva Link, the desktop connector that links the Quorva point-of-sale application to the printers and payment terminals of this computer. By accepting them you declare that you have read them and accept them on your own behalf or on behalf of the entity you represent.&lt;/p&gt;&lt;h3&gt;1. Purpose&lt;/h3&gt;&lt;p&gt;1.1. Quorva Link provides, on this computer only, a local service that lets the Quorva application print receipts and talk to payment terminals.&lt;/p&gt;&lt;p&gt;1.2. The service only answers requests that present the security key shown on the start page.&lt;/p&gt;&lt;h3&gt;2. Licence&lt;/h3&gt;&lt;p&gt;2.1. Quorva grants a personal, non-exclusive and non-transferable licence to install and use Quorva Link together with a valid subscription of the Quorva application.&lt;/p&gt;&lt;p&gt;2.2. You may not copy, modify, decompile or distribute Quorva Link, except to the extent that the law expressly allows it.&lt;/p&gt;&lt;h3&gt;3. Obligations of the user&lt;/h3&gt;&lt;p&gt;3.1. The user keeps the security key secret and enters it only in the Quorva application.&lt;/p&gt;&lt;p&gt;3.2. The user is responsible for setting up the printers and terminals that they make available and for the compliance of the documents issued with the applicable law.&lt;/p&gt;&lt;h3&gt;4. Payments&lt;/h3&gt;&lt;p&gt;4.1. Payment operations are processed by the terminal and by the entity that provides it; Quorva Link only passes on the requests and the answers.&lt;/p&gt;&lt;p&gt;4.2. Where the outcome of an operation is in doubt, the receipt printed by the terminal prevails.&lt;/p&gt;&lt;h3&gt;5. Personal data&lt;/h3&gt;&lt;p&gt;5.1. Quorva Link does not send the content of receipts or payment data to Quorva. To check for updates it only sends the number of the installed version.&lt;/p&gt;&lt;h3&gt;6. Updates&lt;/h3&gt;&lt;p&gt;6.1. Quorva may make new versions available. Keeping Quorva Link up to date is necessary for the security and proper working of the service.&lt;/p&gt;&lt;h3&gt;7. Liability&lt;/h3&gt;&lt;p&gt;7.1. Quorva Link is provided as is. To the fullest extent permitted by law, Quorva is not liable for indirect damage, loss of profit or loss of data resulting from its use.&lt;/p&gt;&lt;h3&gt;8. Governing law&lt;/h3&gt;&lt;p&gt;8.1. These terms are governed by Portuguese law. The courts of Lisbon have jurisdiction over any dispute, unless mandatory legal provisions state otherwise.&lt;/p&gt;</translation>
    </message>
    <message>
        <location line="+54"/>
        <source>ACEITO OS TERMOS DE UTILIZAÇÃO DO QUORVA</source>
        <translation>I ACCEPT QUORVA&apos;S TERMS AND CONDITIONS</translation>
    </message>
</context>
<context>
    <name>Logs</name>
    <message>
        <location filename="../qml/Logs.qml" line="+10"/>
        <source>Logs</source>
        <translation>Logs</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Consulte os logs</source>
        <translation>View the logs</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Mensagem</source>
        <translation>Message</translation>
    </message>
    <message>
        <location line="+40"/>
        <source>Voltar</source>
        <translation>Back</translation>
    </message>
</context>
<context>
    <name>OverlayAbout</name>
    <message>
        <location filename="../qml/customComponents/OverlayAbout.qml" line="+81"/>
        <source>O Quorva Link está desatualizado</source>
        <translation>Quorva Link is out of date</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>O Quorva Link está atualizado</source>
        <translation>Quorva Link is up to date</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Versão: </source>
        <translation>Version: </translation>
    </message>
    <message>
        <location line="+14"/>
        <source>Data:</source>
        <translation>Date:</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Sistema operativo:</source>
        <translation>Operating system:</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>IP:</source>
        <translation>IP:</translation>
    </message>
    <message>
        <location line="+22"/>
        <source>Copiado!</source>
        <translation>Copied!</translation>
    </message>
    <message>
        <location line="+20"/>
        <source>Modo Compatibilidade</source>
        <translation>Compatibility Mode</translation>
    </message>
    <message>
        <location line="+8"/>
        <source>Ativo</source>
        <translation>Enabled</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Desativo</source>
        <translation>Disabled</translation>
    </message>
    <message>
        <location line="+55"/>
        <source>Atualização disponível.</source>
        <translation>Update available.</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>Descarregar</source>
        <translation>Download</translation>
    </message>
    <message>
        <source>Confiar no certificado</source>
        <translation>Trust the certificate</translation>
    </message>
</context>
<context>
    <name>PrintClient</name>
    <message>
        <location filename="../core/PrintClient.cpp" line="+174"/>
        <source>Serviço de impressão ligado</source>
        <translation>Print service on</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Serviço de impressão desligado</source>
        <translation>Print service off</translation>
    </message>
    <message>
        <source>Certificado de confiança em:</source>
        <translation>Certificate trusted in:</translation>
    </message>
    <message>
        <source>Falhou:</source>
        <translation>Failed:</translation>
    </message>
    <message>
        <source>Falhou: %1</source>
        <translation>Failed: %1</translation>
    </message>
    <message>
        <source>O servidor usa o certificado do implementador (%1): não é preciso confiar no certificado.</source>
        <translation>The server uses the deployer&apos;s certificate (%1): there is no need to trust the certificate.</translation>
    </message>
    <message>
        <source>Autoridade de versões antigas removida de:</source>
        <translation>Authority of older versions removed from:</translation>
    </message>
</context>
<context>
    <name>PrinterListItem</name>
    <message>
        <location filename="../qml/configComponents/PrinterListItem.qml" line="+53"/>
        <source>A imprimir…</source>
        <translation>Printing…</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Imprimir teste</source>
        <translation>Print test</translation>
    </message>
    <message>
        <location line="+22"/>
        <source>Enviado</source>
        <translation>Sent</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Falhou</source>
        <translation>Failed</translation>
    </message>
    <message>
        <location line="+21"/>
        <source>Ligado</source>
        <translation>Turn on</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Desligado</source>
        <translation>Turn off</translation>
    </message>
    <message>
        <location line="+15"/>
        <source>Ativo</source>
        <translation>Enabled</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Inativo</source>
        <translation>Disabled</translation>
    </message>
</context>
<context>
    <name>ServerSwitch</name>
    <message>
        <source>já está a ser usada por outro programa</source>
        <translation>another program is already using it</translation>
    </message>
    <message>
        <source>sem permissão para a usar</source>
        <translation>no permission to use it</translation>
    </message>
    <message>
        <source>Serviço de impressão parado: não foi possível usar a porta %1 (%2).</source>
        <translation>Print service stopped: port %1 could not be used (%2).</translation>
    </message>
    <message>
        <source>Serviço de impressão parado: não foi possível usar o certificado TLS (%1).</source>
        <translation>Print service stopped: the TLS certificate could not be used (%1).</translation>
    </message>
</context>
<context>
    <name>Terminals</name>
    <message>
        <location filename="../qml/Terminals.qml" line="+11"/>
        <source>Configuração de terminais de pagamento automático (TPA)</source>
        <translation>Mobile payment terminals configuration</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Defina as configurações dos terminais de pagamento no ponto de venda</source>
        <translation>Set up payment terminal configurations on the point of sale</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Terminais</source>
        <translation>Terminals</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Estado</source>
        <translation>Status</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Disponível</source>
        <translation>Available</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Não foi encontrado nenhum terminal</source>
        <translation>No terminal found</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Voltar</source>
        <translation>Back</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Atualizar lista</source>
        <translation>Update list</translation>
    </message>
</context>
<context>
    <name>TestReceipt</name>
    <message>
        <location filename="../printing/TestReceipt.cpp" line="+33"/>
        <source>Versão %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Página de teste</source>
        <translation>Test page</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Impressora: %1</source>
        <translation>Printer: %1</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Data: %1</source>
        <translation>Date: %1</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Esquerda</source>
        <translation>Left</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Centro</source>
        <translation>Centre</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Direita</source>
        <translation>Right</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Tamanho duplo</source>
        <translation>Double size</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Letra condensada, 64 caracteres por linha:</source>
        <translation>Condensed, 64 characters per line:</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Se consegue ler isto, a impressora funciona.</source>
        <translation>If you can read this, the printer works.</translation>
    </message>
</context>
<context>
    <name>TpaListItem</name>
    <message>
        <location filename="../qml/configComponents/TpaListItem.qml" line="+37"/>
        <source>Ligado</source>
        <translation>Turn on</translation>
    </message>
    <message>
        <location line="+15"/>
        <source>Ativo</source>
        <translation>Enabled</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Inativo</source>
        <translation>Disabled</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <location filename="../qml/main.qml" line="+13"/>
        <location line="+379"/>
        <source>Quorva Link</source>
        <translation>Quorva Link</translation>
    </message>
    <message>
        <location line="-292"/>
        <source>Descargas</source>
        <translation>Downloads</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Ajuda</source>
        <translation>Help</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Apoio cliente</source>
        <translation>Support</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Logs</source>
        <translation>Logs</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Sobre</source>
        <translation>About</translation>
    </message>
    <message>
        <location line="+104"/>
        <source>Atualização disponível!</source>
        <translation>Update available!</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Uma nova versão do Quorva Link 
está disponível para descarregar.</source>
        <translation>A new version of Quorva Link
is available for download.</translation>
    </message>
    <message>
        <location line="+15"/>
        <source>Mais tarde</source>
        <translation>Later</translation>
    </message>
    <message>
        <location line="+25"/>
        <source>Atualizar</source>
        <translation>Update</translation>
    </message>
</context>
<context>
    <name>TrayIcon</name>
    <message>
        <location filename="../app/TrayIcon.cpp" line="+0"/>
        <source>Abrir</source>
        <translation>Open</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Sair</source>
        <translation>Quit</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Desligar serviço</source>
        <translation>Turn off service</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Ligar serviço</source>
        <translation>Turn on service</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Quorva Link</source>
        <translation>Quorva Link</translation>
    </message>
</context>
<context>
    <name>SingleInstance</name>
    <message>
        <location filename="../app/main.cpp" line="+0"/>
        <source>O Quorva Link já está a correr para este utilizador como serviço, sem janela. Para usar a janela, pare o serviço: systemctl --user stop quorva-link</source>
        <translation>Quorva Link is already running for this user as a service, without a window. To use the window, stop the service: systemctl --user stop quorva-link</translation>
    </message>
</context>
</TS>

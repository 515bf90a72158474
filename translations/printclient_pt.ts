<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="pt_BR" sourcelanguage="pt_PT">
<context>
    <name>Config</name>
    <message>
        <location filename="../qml/Config.qml" line="+11"/>
        <source>Configuração de impressora</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Defina as configurações das impressoras no terminal do ponto de venda</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Impressoras</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Estado</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Disponível</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Não foi encontrada nenhuma impressora</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Voltar</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Atualizar lista</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Initial</name>
    <message>
        <location filename="../qml/Initial.qml" line="+34"/>
        <source>Configuração de dispositivos</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Escolha o tipo de dispositivo que pretende configurar</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+28"/>
        <source>Estado do serviço</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Ativo</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Desativo</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Parado</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+24"/>
        <source>Chave de segurança:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+29"/>
        <source>Copiado!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+22"/>
        <source>Impressoras</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Configurar impressoras no ponto de venda.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+10"/>
        <source>Terminais de pagamento automático (TPA)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Configurar terminais no ponto de venda.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>License</name>
    <message>
        <location filename="../qml/License.qml" line="+37"/>
        <source>&lt;h2&gt;Termos de Utilização&lt;/h2&gt;&lt;p&gt;Estes termos regem a utilização do Quorva Link, o conector de ambiente de trabalho que liga a aplicação de ponto de venda Quorva às impressoras e aos terminais de pagamento deste computador. Ao aceitar, declara que os leu e que os aceita em nome próprio ou da entidade que representa.&lt;/p&gt;&lt;h3&gt;1. Objeto&lt;/h3&gt;&lt;p&gt;1.1. O Quorva Link disponibiliza, apenas neste computador, um serviço local que permite à aplicação Quorva imprimir talões e comunicar com terminais de pagamento automático (TPA).&lt;/p&gt;&lt;p&gt;1.2. O serviço só responde a pedidos que apresentem a chave de segurança mostrada na página inicial.&lt;/p&gt;&lt;h3&gt;2. Licença&lt;/h3&gt;&lt;p&gt;2.1. A Quorva concede uma licença pessoal, não exclusiva e intransmissível para instalar e utilizar o Quorva Link em conjunto com uma subscrição válida da aplicação Quorva.&lt;/p&gt;&lt;p&gt;2.2. Não é permitido copiar, modificar, descompilar ou distribuir o Quorva Link, exceto na medida em que a lei o permita expressamente.&lt;/p&gt;&lt;h3&gt;3. Obrigações do utilizador&lt;/h3&gt;&lt;p&gt;3.1. O utilizador guarda a chave de segurança em sigilo e só a introduz na aplicação Quorva.&lt;/p&gt;&lt;p&gt;3.2. O utilizador é responsável pela configuração das impressoras e dos terminais que disponibiliza e pela conformidade dos documentos emitidos com a legislação aplicável.&lt;/p&gt;&lt;h3&gt;4. Pagamentos&lt;/h3&gt;&lt;p&gt;4.1. As operações de pagamento são processadas pelo terminal e pela entidade que o disponibiliza; o Quorva Link limita-se a transmitir os pedidos e as respostas.&lt;/p&gt;&lt;p&gt;4.2. Em caso de dúvida sobre o resultado de uma operação, prevalece o talão emitido pelo terminal.&lt;/p&gt;&lt;h3&gt;5. Dados pessoais&lt;/h3&gt;&lt;p&gt;5.1. O Quorva Link não envia para a Quorva o conteúdo dos talões nem os dados dos pagamentos. Para verificar se existem atualizações envia apenas o número da versão instalada.&lt;/p&gt;&lt;h3&gt;6. Atualizações&lt;/h3&gt;&lt;p&gt;6.1. A Quorva pode disponibilizar novas versões. Manter o Quorva Link atualizado é necessário para garantir a segurança e o bom funcionamento do serviço.&lt;/p&gt;&lt;h3&gt;7. Responsabilidade&lt;/h3&gt;&lt;p&gt;7.1. O Quorva Link é fornecido no estado em que se encontra. Na medida máxima permitida por lei, a Quorva não responde por danos indiretos, lucros cessantes ou perda de dados resultantes da sua utilização.&lt;/p&gt;&lt;h3&gt;8. Lei aplicável&lt;/h3&gt;&lt;p&gt;8.1. Estes termos regem-se pela lei portuguesa. Para qualquer litígio é competente o foro da comarca de Lisboa, salvo disposição legal imperativa em contrário.&lt;/p&gt;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+54"/>
        <source>ACEITO OS TERMOS DE UTILIZAÇÃO DO QUORVA</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Logs</name>
    <message>
        <location filename="../qml/Logs.qml" line="+10"/>
        <source>Logs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Consulte os logs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Mensagem</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+40"/>
        <source>Voltar</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>OverlayAbout</name>
    <message>
        <location filename="../qml/customComponents/OverlayAbout.qml" line="+81"/>
        <source>O Quorva Link está desatualizado</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>O Quorva Link está atualizado</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Versão: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+14"/>
        <source>Data:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Sistema operativo:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+10"/>
        <source>IP:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+22"/>
        <source>Copiado!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+20"/>
        <source>Modo Compatibilidade</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+8"/>
        <source>Ativo</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Desativo</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+55"/>
        <source>Atualização disponível.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+13"/>
        <source>Descarregar</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Confiar no certificado</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PrintClient</name>
    <message>
        <location filename="../core/PrintClient.cpp" line="+174"/>
        <source>Serviço de impressão ligado</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Serviço de impressão desligado</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Certificado de confiança em:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Falhou:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Falhou: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>O servidor usa o certificado do implementador (%1): não é preciso confiar no certificado.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Autoridade de versões antigas removida de:</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PrinterListItem</name>
    <message>
        <location filename="../qml/configComponents/PrinterListItem.qml" line="+53"/>
        <source>A imprimir…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Imprimir teste</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+22"/>
        <source>Enviado</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Falhou</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+21"/>
        <source>Ligado</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Desligado</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+15"/>
        <source>Ativo</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Inativo</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ServerSwitch</name>
    <message>
        <source>já está a ser usada por outro programa</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>sem permissão para a usar</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Serviço de impressão parado: não foi possível usar a porta %1 (%2).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Serviço de impressão parado: não foi possível usar o certificado TLS (%1).</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Terminals</name>
    <message>
        <location filename="../qml/Terminals.qml" line="+11"/>
        <source>Configuração de terminais de pagamento automático (TPA)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Defina as configurações dos terminais de pagamento no ponto de venda</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Terminais</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Estado</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Disponível</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Não foi encontrado nenhum terminal</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Voltar</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Atualizar lista</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TestReceipt</name>
    <message>
        <location filename="../printing/TestReceipt.cpp" line="+33"/>
        <source>Versão %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Página de teste</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Impressora: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Data: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Esquerda</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Centro</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Direita</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Tamanho duplo</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Letra condensada, 64 caracteres por linha:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Se consegue ler isto, a impressora funciona.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TpaListItem</name>
    <message>
        <location filename="../qml/configComponents/TpaListItem.qml" line="+37"/>
        <source>Ligado</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+15"/>
        <source>Ativo</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Inativo</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <location filename="../qml/main.qml" line="+13"/>
        <location line="+379"/>
        <source>Quorva Link</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="-292"/>
        <source>Descargas</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Ajuda</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Apoio cliente</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Logs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Sobre</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+104"/>
        <source>Atualização disponível!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Uma nova versão do Quorva Link 
está disponível para descarregar.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+15"/>
        <source>Mais tarde</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+25"/>
        <source>Atualizar</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TrayIcon</name>
    <message>
        <location filename="../app/TrayIcon.cpp" line="+0"/>
        <source>Abrir</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Sair</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Desligar serviço</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Ligar serviço</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Quorva Link</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SingleInstance</name>
    <message>
        <location filename="../app/main.cpp" line="+0"/>
        <source>O Quorva Link já está a correr para este utilizador como serviço, sem janela. Para usar a janela, pare o serviço: systemctl --user stop quorva-link</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>

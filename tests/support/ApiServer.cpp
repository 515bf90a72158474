#include "ApiServer.h"

#include "api/PrintClientRequestHandler.h"
#include "core/PrintClient.h"
#include "core/PrintClientThreaded.h"
#include "http/HttpListener.h"

#include <QFile>
#include <QPrinterInfo>
#include <QSerialPortInfo>
#include <QSettings>
#include <QThread>

ApiServer::ApiServer(const QString& key)
{
    // Terms not accepted: the PrintClient builds no server of its own on 5080.
    {
        QSettings settings;
        settings.setValue(QStringLiteral("licenseAccepted"), false);
        settings.setValue(QStringLiteral("securityKey"), key);
        settings.sync();
    }
    m_printClient = std::make_unique<PrintClient>();
    m_printClient->init();
    m_printClient->setSecurityKey(key);

    // As the PrintClient does it: the handler gets a thread of its own, and is
    // served from the pool's connection threads.
    m_handler = new PrintClientRequestHandler();
    m_handler->setPrintClient(m_printClient.get());
    m_handlerThread = new QThread();
    m_handler->moveToThread(m_handlerThread);
    m_handlerThread->start();

    const QString ssl = qEnvironmentVariable("QLK_BUILD_DIR") + QStringLiteral("/ssl/");
    if (!QFile::exists(ssl + QStringLiteral("qlk.key"))) {
        m_error = QStringLiteral("no TLS key at %1 (set QLK_BUILD_DIR)").arg(ssl);
        return;
    }
    m_settings = new QSettings();
    m_settings->beginGroup(QStringLiteral("apiTestListener"));
    m_settings->setValue(QStringLiteral("host"), QStringLiteral("127.0.0.1"));
    m_settings->setValue(QStringLiteral("port"), 0);
    m_settings->setValue(QStringLiteral("sslKeyFile"), ssl + QStringLiteral("qlk.key"));
    m_settings->setValue(QStringLiteral("sslCertFile"), ssl + QStringLiteral("qlk.cert"));
    m_settings->setValue(QStringLiteral("minThreads"), 2);
    m_settings->setValue(QStringLiteral("maxThreads"), 20);
    m_settings->setValue(QStringLiteral("readTimeout"), 60000);
    m_settings->setValue(QStringLiteral("maxRequestSize"), 4194304);
    m_listener = new HttpListener(m_settings, m_handler);
    if (!m_listener->isListening()) {
        m_error = QStringLiteral("the listener does not listen: %1").arg(m_listener->errorString());
        return;
    }
    m_port = m_listener->serverPort();
}

ApiServer::~ApiServer()
{
    delete m_listener;
    delete m_settings;
    if (m_handlerThread) {
        m_handlerThread->quit();
        m_handlerThread->wait();
    }
    delete m_handler;
    delete m_handlerThread;
    m_printClient.reset();
}

QString ApiServer::key() const
{
    return m_printClient->securityKey();
}

void ApiServer::discoverPrinters()
{
    PrintClientThreaded worker;
    QObject::connect(&worker, &PrintClientThreaded::onGetPrinters, m_printClient.get(),
                     [this](const QList<QPrinterInfo>& printers) {
                         QMetaObject::invokeMethod(m_printClient.get(), "onGetPrinters", Qt::DirectConnection,
                                                   Q_ARG(QList<QPrinterInfo>, printers));
                     });
    worker.getPrinters();
}

void ApiServer::discoverTpas()
{
    PrintClientThreaded worker;
    QObject::connect(&worker, &PrintClientThreaded::onGetTpas, m_printClient.get(),
                     [this](const QList<QSerialPortInfo>& ports) {
                         QMetaObject::invokeMethod(m_printClient.get(), "onGetTpas", Qt::DirectConnection,
                                                   Q_ARG(QList<QSerialPortInfo>, ports));
                     });
    worker.getTpas();
}

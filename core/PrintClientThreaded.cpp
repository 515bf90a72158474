#include "core/PrintClientThreaded.h"

#include "api/PrintClientRequestHandler.h"
#include "http/HttpListener.h"
#include "printing/Spooler.h"

#include <QNetworkInterface>
#include <QSettings>

PrintClientThreaded::PrintClientThreaded(QObject* parent)
    : QObject(parent)
{}

void PrintClientThreaded::setDeployerTls(const QString& keyFile, const QString& certFile)
{
    m_tls.setDeployerFiles(keyFile, certFile);
}

void PrintClientThreaded::setCertificateFolder(const QString& folder)
{
    m_tls.setFolder(folder);
}

void PrintClientThreaded::writeListenerSettings()
{
    // Rewritten at every start so hand edits of the store cannot weaken the server.
    const QPair<QString, QString> tls = m_tls.files();
    QSettings settings;
    settings.beginGroup(QStringLiteral("listener"));
    settings.setValue(QStringLiteral("sslKeyFile"), tls.first);
    settings.setValue(QStringLiteral("sslCertFile"), tls.second);
    settings.setValue(QStringLiteral("port"), int(m_port));
    settings.setValue(QStringLiteral("minThreads"), 4);
    settings.setValue(QStringLiteral("maxThreads"), 20);
    settings.setValue(QStringLiteral("cleanupInterval"), 60000);
    settings.setValue(QStringLiteral("readTimeout"), 60000);
    settings.setValue(QStringLiteral("maxRequestSize"), 4194304);
    settings.setValue(QStringLiteral("maxMultiPartSize"), 10000000);
    settings.endGroup();
    settings.sync();
}

void PrintClientThreaded::getIPAddresses()
{
    QList<QHostAddress> addresses;
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (!address.isLoopback() && address.protocol() == QAbstractSocket::IPv4Protocol)
            addresses.append(address);
    }
    emit onGetAddresses(addresses);
}

void PrintClientThreaded::getPrinters()
{
    emit onGetPrinters(Spooler::printerNames());
}

void PrintClientThreaded::getTpas()
{
    emit onGetTpas(SerialPortDescription::availablePorts());
}

void PrintClientThreaded::getServer(bool online, PrintClientRequestHandler* requestHandler)
{
    writeListenerSettings();
    // The listener reads its settings from this object for its whole life.
    auto* listenerSettings = new QSettings(this);
    listenerSettings->beginGroup(QStringLiteral("listener"));
    auto* listener = new HttpListener(listenerSettings, requestHandler, this);
    // Every later start of the server (switched on, tried again) makes the
    // certificate again first if it is missing, broken or near its end.
    connect(listener, &HttpListener::aboutToListen, this, &PrintClientThreaded::writeListenerSettings);
    if (!online)
        listener->close();
    emit onGetServer(listener);
}

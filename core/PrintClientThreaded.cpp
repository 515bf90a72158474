#include "core/PrintClientThreaded.h"

#include "api/PrintClientRequestHandler.h"
#include "http/HttpListener.h"

#include <QNetworkInterface>
#include <QSettings>

PrintClientThreaded::PrintClientThreaded(QObject* parent)
    : QObject(parent)
{}

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
    emit onGetPrinters(QPrinterInfo::availablePrinters());
}

void PrintClientThreaded::getTpas()
{
    emit onGetTpas(SerialPortDescription::availablePorts());
}

void PrintClientThreaded::getServer(bool online, PrintClientRequestHandler* requestHandler)
{
    {
        // Rewritten at every start so hand edits of the store cannot weaken the server.
        QSettings settings;
        settings.beginGroup(QStringLiteral("listener"));
        settings.setValue(QStringLiteral("sslKeyFile"), QStringLiteral(":/ssl/qlk.key"));
        settings.setValue(QStringLiteral("sslCertFile"), QStringLiteral(":/ssl/qlk.cert"));
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

    // The listener reads its settings from this object for its whole life.
    auto* listenerSettings = new QSettings(this);
    listenerSettings->beginGroup(QStringLiteral("listener"));
    auto* listener = new HttpListener(listenerSettings, requestHandler, this);
    if (!online)
        listener->close();
    emit onGetServer(listener);
}

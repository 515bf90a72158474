#pragma once

#include "core/ServerTls.h"
#include "terminals/SerialPortDescription.h"

#include <QHostAddress>
#include <QList>
#include <QObject>

class HttpListener;
class PrintClientRequestHandler;

// Gathers what the state object needs from the platform and builds the HTTP
// server. Each request is a slot that answers with exactly one signal.
class PrintClientThreaded : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 defaultPort = 5080;

    explicit PrintClientThreaded(QObject* parent = nullptr);

    // The port written to the listener settings (5080); tests pick a free one.
    void setPort(quint16 port) { m_port = port; }
    // A deployer's key and certificate chain, served instead of the installation's
    // own while both files can be read. The build's QLK_TLS_KEY and QLK_TLS_CERT.
    void setDeployerTls(const QString& keyFile, const QString& certFile);
    // Where the installation's key and certificate live (PrivateFiles::folder()).
    void setCertificateFolder(const QString& folder);

signals:
    void onGetAddresses(QList<QHostAddress> addresses);
    void onGetPrinters(QStringList printers);
    void onGetTpas(QList<SerialPortDescription> tpas);
    void onGetServer(HttpListener* server);

public slots:
    void getIPAddresses();
    void getPrinters();
    void getTpas();
    void getServer(bool online, PrintClientRequestHandler* requestHandler);

private:
    // The listener's group of the settings, with the TLS files made when needed.
    void writeListenerSettings();

    quint16 m_port = defaultPort;
    ServerTls m_tls;
};

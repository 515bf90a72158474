#pragma once

#include "ApiClient.h"

#include <QString>

#include <memory>

class HttpListener;
class PrintClient;
class PrintClientRequestHandler;
class QSettings;
class QThread;

// The local web API as the program runs it, on a free loopback port: a real
// PrintClient on the test's isolated settings (terms not accepted, so it starts
// no server of its own), the request handler on a thread of its own, and an
// HttpListener with the build's certificate.
//
//     ApiServer server;
//     QVERIFY2(server.isValid(), qPrintable(server.errorString()));
//     ApiReply reply = server.client().get("/getStatus?securityKey=" + server.keyBytes());
class ApiServer
{
public:
    explicit ApiServer(const QString& key = defaultKey());
    ~ApiServer();
    ApiServer(const ApiServer&) = delete;
    ApiServer& operator=(const ApiServer&) = delete;

    bool isValid() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }

    PrintClient& printClient() { return *m_printClient; }
    quint16 port() const { return m_port; }
    ApiClient client() const { return ApiClient(m_port); }
    QString key() const;
    QByteArray keyBytes() const { return key().toUtf8(); }
    // "Authorization: Bearer KEY"
    ApiHeaders bearer() const { return {{"Authorization", "Bearer " + keyBytes()}}; }

    // Runs the program's printer or serial-port discovery now and hands the
    // result to the PrintClient, as its timers do.
    void discoverPrinters();
    void discoverTpas();

    static QString defaultKey() { return QStringLiteral("Ab3dEf9hv4.0"); }

private:
    std::unique_ptr<PrintClient> m_printClient;
    PrintClientRequestHandler* m_handler = nullptr;
    QThread* m_handlerThread = nullptr;
    QSettings* m_settings = nullptr;
    HttpListener* m_listener = nullptr;
    quint16 m_port = 0;
    QString m_error;
};

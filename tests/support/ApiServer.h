#pragma once

#include "ApiClient.h"

#include <QString>

#include <memory>

class PrintClient;

// The local web API as the program runs it: a real PrintClient on the test's
// isolated settings, terms accepted, which discovers printers and serial ports
// and builds its HTTPS server with the request handler, only on a free port
// instead of 5080. Simulated terminals must be in QUORVA_LINK_SIMULATED_PORTS
// before the server is made (or call printClient().updateTpas() afterwards).
//
//     ApiServer server;
//     QVERIFY2(server.isValid(), qPrintable(server.errorString()));
//     ApiReply reply = server.client().get("/getStatus", server.bearer());
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

    static QString defaultKey() { return QStringLiteral("Ab3dEf9hv4.0"); }

private:
    std::unique_ptr<PrintClient> m_printClient;
    quint16 m_port = 0;
    QString m_error;
};

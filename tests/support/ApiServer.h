#pragma once

#include "ApiClient.h"

#include <memory>

class PrintClient;
class Printer;
class Tpa;

// The program's local web API (a real PrintClient, terms accepted) on a free port.
// Simulated terminals must be in QUORVA_LINK_SIMULATED_PORTS before it is made.
class ApiServer
{
public:
    explicit ApiServer(const QString& key = defaultKey());
    ~ApiServer();

    bool isValid() const { return m_port != 0; }
    QString errorString() const { return QStringLiteral("the program's server does not listen"); }
    PrintClient& printClient() { return *m_printClient; }
    // As discovered (the printer by name, the terminal by port), or null.
    std::shared_ptr<Printer> printer(const QString& name) const;
    std::shared_ptr<Tpa> terminal(const QString& portName) const;
    quint16 port() const { return m_port; }
    ApiClient client() const { return ApiClient(m_port); }
    QString key() const;
    QByteArray keyBytes() const { return key().toUtf8(); }
    ApiHeaders bearer() const { return {{"Authorization", "Bearer " + keyBytes()}}; }
    // Every loopback address is one client of the wrong-key window: tests that send many wrong keys start it afresh.
    void forgetWrongKeys();
    static QString defaultKey() { return QStringLiteral("Ab3dEf9hv4.0"); }

private:
    std::unique_ptr<PrintClient> m_printClient;
    quint16 m_port = 0;
};

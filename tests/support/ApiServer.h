#pragma once

#include "ApiClient.h"
#include "app/Resources.h"
#include "core/PrintClient.h"

#include <algorithm>
#include <memory>

// The program's local web API (a real PrintClient, terms accepted) on a free port.
// Simulated terminals must be in QUORVA_LINK_SIMULATED_PORTS before it is made.
class ApiServer
{
public:
    explicit ApiServer(const QString& key = defaultKey())
    {
        // Resources as in the program; TLS by this process's installation certificate, which ApiClient trusts.
        [[maybe_unused]] static const bool resources = (Resources::init(), true);
        QSettings().setValue(QStringLiteral("securityKey"), key);
        QSettings().setValue(QStringLiteral("licenseAccepted"), true);
        QSettings().setValue(QStringLiteral("serverActive"), true);
        m_printClient = std::make_unique<PrintClient>();
        m_printClient->setListenerPort(0);
        m_printClient->init();
        if (m_printClient->listener() && m_printClient->listener()->isListening())
            m_port = m_printClient->listener()->serverPort();
    }
    ~ApiServer()
    {
        if (m_printClient->listener()) // it goes later with the worker; it must take no request meanwhile
            m_printClient->listener()->close();
    }

    bool isValid() const { return m_port != 0; }
    QString errorString() const { return QStringLiteral("the program's server does not listen"); }
    PrintClient& printClient() { return *m_printClient; }
    // As discovered (the printer by name, the terminal by port), or null.
    std::shared_ptr<Printer> printer(const QString& name) const
    {
        const auto all = m_printClient->printerList();
        const auto it = std::find_if(all.begin(), all.end(), [&](const auto& p) { return p->name() == name; });
        return it == all.end() ? nullptr : *it;
    }
    std::shared_ptr<Tpa> terminal(const QString& portName) const
    {
        const auto all = m_printClient->tpaList();
        const auto it =
            std::find_if(all.begin(), all.end(), [&](const auto& t) { return t->tpa().portName() == portName; });
        return it == all.end() ? nullptr : *it;
    }
    quint16 port() const { return m_port; }
    ApiClient client() const { return ApiClient(m_port); }
    QString key() const { return m_printClient->securityKey(); }
    QByteArray keyBytes() const { return key().toUtf8(); }
    ApiHeaders bearer() const { return {{"Authorization", "Bearer " + keyBytes()}}; }
    // Every loopback address is one client of the wrong-key window: tests that send many wrong keys start it afresh.
    void forgetWrongKeys()
    {
        if (auto* handler = qobject_cast<PrintClientRequestHandler*>(m_printClient->listener()->requestHandler()))
            handler->keyAttempts().clear();
    }
    static QString defaultKey() { return QStringLiteral("Ab3dEf9hv4.0"); }

private:
    std::unique_ptr<PrintClient> m_printClient;
    quint16 m_port = 0;
};

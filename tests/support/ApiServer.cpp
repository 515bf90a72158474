#include "ApiServer.h"

#include "api/PrintClientRequestHandler.h"
#include "app/Resources.h"
#include "core/PrintClient.h"
#include "http/HttpListener.h"
#include "printing/Printer.h"
#include "terminals/Tpa.h"

#include <QSettings>

ApiServer::ApiServer(const QString& key)
{
    // Resources as in the program; the TLS files are this process's installation certificate, which ApiClient trusts.
    static const bool resources = (Resources::init(), true);
    Q_UNUSED(resources)
    QSettings().setValue(QStringLiteral("securityKey"), key);
    QSettings().setValue(QStringLiteral("licenseAccepted"), true);
    QSettings().setValue(QStringLiteral("serverActive"), true);
    m_printClient = std::make_unique<PrintClient>();
    m_printClient->setListenerPort(0);
    m_printClient->init();
    if (m_printClient->listener() && m_printClient->listener()->isListening())
        m_port = m_printClient->listener()->serverPort();
}

ApiServer::~ApiServer()
{
    if (m_printClient->listener()) // it goes later with the worker; it must take no request meanwhile
        m_printClient->listener()->close();
}

std::shared_ptr<Printer> ApiServer::printer(const QString& name) const
{
    for (const auto& candidate : m_printClient->printerList())
        if (candidate->name() == name)
            return candidate;
    return nullptr;
}

std::shared_ptr<Tpa> ApiServer::terminal(const QString& portName) const
{
    for (const auto& candidate : m_printClient->tpaList())
        if (candidate->tpa().portName() == portName)
            return candidate;
    return nullptr;
}

void ApiServer::forgetWrongKeys()
{
    if (auto* handler = qobject_cast<PrintClientRequestHandler*>(m_printClient->listener()->requestHandler()))
        handler->keyAttempts().clear();
}

QString ApiServer::key() const
{
    return m_printClient->securityKey();
}

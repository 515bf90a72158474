#include "ApiServer.h"

#include "app/Resources.h"
#include "core/PrintClient.h"
#include "http/HttpListener.h"

#include <QSettings>

ApiServer::ApiServer(const QString& key)
{
    // Resources registered as in the program; the TLS files are this test
    // process's installation certificate, which ApiClient trusts.
    static const bool resources = (Resources::init(), true);
    Q_UNUSED(resources)
    {
        QSettings settings;
        settings.setValue(QStringLiteral("securityKey"), key);
        settings.setValue(QStringLiteral("licenseAccepted"), true);
        settings.setValue(QStringLiteral("serverActive"), true);
    }
    m_printClient = std::make_unique<PrintClient>();
    m_printClient->setListenerPort(0);
    m_printClient->init();
    if (m_printClient->listener() && m_printClient->listener()->isListening())
        m_port = m_printClient->listener()->serverPort();
}

ApiServer::~ApiServer()
{
    // The listener goes later with the worker; it must take no request meanwhile.
    if (m_printClient->listener())
        m_printClient->listener()->close();
}

QString ApiServer::key() const
{
    return m_printClient->securityKey();
}

#include "http/HttpConnectionHandlerPool.h"

#include "http/ClientAddress.h"
#include "http/HttpConnectionHandler.h"
#include "http/HttpTlsConfiguration.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSettings>
#include <QtDebug>

#include <algorithm>

HttpConnectionHandlerPool::HttpConnectionHandlerPool(QSettings* settings, HttpRequestHandler* requestHandler)
    : m_settings(settings)
    , m_requestHandler(requestHandler)
{
    loadTlsConfiguration();
    m_cleanupTimer.start(m_settings->value(QStringLiteral("cleanupInterval"), 1000).toInt());
    connect(&m_cleanupTimer, &QTimer::timeout, this, &HttpConnectionHandlerPool::cleanup);
}

HttpConnectionHandlerPool::~HttpConnectionHandlerPool()
{
    m_cleanupTimer.stop();
    {
        QMutexLocker locker(&m_mutex);
        // All are told first, so that they end side by side; then each handler's
        // destructor waits for its thread.
        for (HttpConnectionHandler* handler : qAsConst(m_pool))
            handler->stop();
        qDeleteAll(m_pool);
        m_pool.clear();
    }
    qDebug("HttpConnectionHandlerPool (%p): destroyed", static_cast<void*>(this));
}

HttpConnectionHandler* HttpConnectionHandlerPool::acquireHandler(const QHostAddress& peer)
{
    const QHostAddress client = ClientAddress::of(peer);
    QMutexLocker locker(&m_mutex);
    if (!client.isLoopback()) {
        const int perAddress = m_settings->value(QStringLiteral("maxThreadsPerAddress"), 8).toInt();
        const auto held = std::count_if(m_pool.cbegin(), m_pool.cend(), [&](const HttpConnectionHandler* handler) {
            return handler->isBusy() && handler->client() == client;
        });
        if (held >= perAddress)
            return nullptr;
    }
    for (HttpConnectionHandler* handler : qAsConst(m_pool)) {
        if (!handler->isBusy()) {
            handler->markBusy(client);
            return handler;
        }
    }
    const int maxThreads = m_settings->value(QStringLiteral("maxThreads"), 100).toInt();
    if (m_pool.size() < maxThreads) {
        auto* handler = new HttpConnectionHandler(m_settings, m_requestHandler, m_tls.get());
        handler->markBusy(client);
        m_pool.append(handler);
        return handler;
    }
    return nullptr;
}

int HttpConnectionHandlerPool::size() const
{
    QMutexLocker locker(&m_mutex);
    return m_pool.size();
}

void HttpConnectionHandlerPool::cleanup()
{
    const int minThreads = m_settings->value(QStringLiteral("minThreads"), 1).toInt();
    QMutexLocker locker(&m_mutex);
    int idleCount = 0;
    for (int i = 0; i < m_pool.size(); ++i) {
        HttpConnectionHandler* handler = m_pool.at(i);
        if (handler->isBusy())
            continue;
        if (++idleCount > minThreads) {
            delete handler;
            m_pool.removeAt(i);
            qDebug("HttpConnectionHandlerPool: Removed connection handler (%p), pool size is now %i",
                   static_cast<void*>(handler), m_pool.size());
            break;
        }
    }
}

void HttpConnectionHandlerPool::loadTlsConfiguration()
{
    QString keyFileName = m_settings->value(QStringLiteral("sslKeyFile")).toString();
    QString certFileName = m_settings->value(QStringLiteral("sslCertFile")).toString();
    if (keyFileName.isEmpty() && certFileName.isEmpty())
        return;

    // Relative names in a settings file are relative to that file; resource
    // paths and the native store's names are used as they are.
    if (m_settings->format() != QSettings::NativeFormat) {
        const QDir settingsDir = QFileInfo(m_settings->fileName()).absoluteDir();
        if (!keyFileName.startsWith(QLatin1Char(':')) && QDir::isRelativePath(keyFileName))
            keyFileName = settingsDir.absoluteFilePath(keyFileName);
        if (!certFileName.startsWith(QLatin1Char(':')) && QDir::isRelativePath(certFileName))
            certFileName = settingsDir.absoluteFilePath(certFileName);
    }

    m_tls = std::make_unique<HttpTlsConfiguration>(keyFileName, certFileName);
    if (keyFileName.isEmpty() || certFileName.isEmpty())
        m_tlsError = QStringLiteral("sslKeyFile and sslCertFile must be given together");
    else if (!m_tls->load())
        m_tlsError = m_tls->errorString();
    else
        qDebug("HttpConnectionHandlerPool: SSL settings loaded");
}

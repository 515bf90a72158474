#pragma once

#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QTimer>

#include <memory>

class HttpConnectionHandler;
class HttpRequestHandler;
class HttpTlsConfiguration;
class QSettings;

// The connection threads of the listener: created on demand up to maxThreads,
// reused across connections, and shrunk by one idle thread per cleanup tick down
// to minThreads. Holds the one TLS configuration that every handler uses: with
// sslKeyFile and sslCertFile in its settings every connection is TLS, and files
// that cannot be used leave tlsError() set (the listener then does not listen).
class HttpConnectionHandlerPool : public QObject
{
    Q_OBJECT
public:
    HttpConnectionHandlerPool(QSettings* settings, HttpRequestHandler* requestHandler);
    ~HttpConnectionHandlerPool() override;

    // A handler now marked busy with a connection of this peer, or null when all
    // maxThreads handlers are busy or the peer holds maxThreadsPerAddress (default
    // 8) already, so that one host of the network cannot take every thread. The
    // computer itself, on any loopback address, counts as one peer that may hold all.
    HttpConnectionHandler* acquireHandler(const QHostAddress& peer = QHostAddress());

    // Number of handlers, busy or idle.
    int size() const;

    // Why the TLS files of the settings cannot be used; empty when they can,
    // or when the settings name none (plain HTTP).
    QString tlsError() const { return m_tlsError; }

public slots:
    void cleanup();

private:
    void loadTlsConfiguration();

    QSettings* m_settings;
    HttpRequestHandler* m_requestHandler;
    QList<HttpConnectionHandler*> m_pool;
    QTimer m_cleanupTimer;
    mutable QMutex m_mutex;
    std::unique_ptr<HttpTlsConfiguration> m_tls;
    QString m_tlsError;
};

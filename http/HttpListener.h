#pragma once

#include "http/HttpConnectionHandler.h"

#include <QTcpServer>

class HttpConnectionHandlerPool;
class HttpRequestHandler;
class QSettings;

// The HTTP server: listens on the host and port of its settings (group already
// entered) and hands every connection to an idle thread of its pool. With no
// thread to be had it answers 503 itself. listen() and close() switch it; a
// later listen() builds a fresh pool from the current settings.
class HttpListener : public QTcpServer
{
    Q_OBJECT
public:
    HttpListener(QSettings* settings, HttpRequestHandler* requestHandler, QObject* parent = nullptr);
    ~HttpListener() override;

    void listen();
    void close();

    // The current pool, null while closed.
    HttpConnectionHandlerPool* pool() const { return m_pool; }

signals:
    void handleConnection(tSocketDescriptor socketDescriptor);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    QSettings* m_settings;
    HttpRequestHandler* m_requestHandler;
    HttpConnectionHandlerPool* m_pool = nullptr;
};

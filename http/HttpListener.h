#pragma once

#include "http/HttpConnectionHandler.h"

#include <QTcpServer>

class HttpConnectionHandlerPool;
class HttpRequestHandler;
class QSettings;

// The HTTP server: listens on the host and port of its settings (group already
// entered) and hands every connection to an idle thread of its pool. With no
// thread to be had it answers 503 itself. listen() and close() switch it; a
// later listen() builds a fresh pool from the current settings. With TLS files
// in the settings that cannot be used it does not listen at all.
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
    HttpRequestHandler* requestHandler() const { return m_requestHandler; }
    // Why the last listen() did not listen for want of TLS; empty otherwise.
    QString tlsError() const { return m_tlsError; }

signals:
    void handleConnection(tSocketDescriptor socketDescriptor);
    // At the start of every listen(), before the settings are read (the
    // constructor's own comes before anyone can be connected): the TLS files
    // may be made again first.
    void aboutToListen();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    QSettings* m_settings;
    HttpRequestHandler* m_requestHandler;
    HttpConnectionHandlerPool* m_pool = nullptr;
    QString m_tlsError;
};

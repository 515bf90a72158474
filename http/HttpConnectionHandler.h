#pragma once

#include "http/HttpRequest.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QThread>

#include <atomic>
#include <mutex>

class HttpRequestHandler;
class HttpTlsConfiguration;
class QSettings;
class QTcpSocket;
class QTimer;

// The native socket descriptor, under a name that queued invocations can carry.
typedef qintptr tSocketDescriptor;

// One connection thread of the pool. It owns one socket (plain or TLS), re-bound
// to every connection that the listener hands it, reads requests into
// HttpRequest, lets the request handler answer them, and keeps or closes the
// connection by the HTTP rules. Everything but the busy mark runs in its own thread.
// A TLS connection presents the pool's key and certificate as they are when it
// begins.
//
// Deadlines, so that a slow or silent client holds a thread for a bounded time:
// the TLS handshake and the header section of a request within headerTimeout
// (default 10 s, never above readTimeout) of the connection or of the request's
// first byte; the whole request, body included, within readTimeout of that same
// start, however its bytes trickle in. Between requests a kept connection waits
// readTimeout for the next one.
class HttpConnectionHandler : public QThread
{
    Q_OBJECT
public:
    HttpConnectionHandler(const QSettings* settings, HttpRequestHandler* requestHandler,
                          HttpTlsConfiguration* tls = nullptr);
    ~HttpConnectionHandler() override;

    bool isBusy() const { return m_busy; }
    // The pool's, under its lock: busy now, with a connection from this client.
    void markBusy(const QHostAddress& client = QHostAddress())
    {
        m_busy = true;
        m_client = client;
    }
    // The client given with the busy mark (read by the pool only).
    const QHostAddress& client() const { return m_client; }
    // From any thread: ends the connection and the thread's event loop without
    // waiting for a slow peer, the API lock or an image download.
    void stop();

public slots:
    void handleConnection(tSocketDescriptor socketDescriptor);

private slots:
    void readTimeout();
    void read();
    void socketError(QAbstractSocket::SocketError socketError);
    void disconnected();

protected:
    void run() override;

private:
    void createSocket();
    int readTimeoutMs() const { return m_readTimeout; }
    // Lets the peer take what is left, within the read timeout, then closes.
    void closeConnection();
    // Starts the read timer for what remains of the current request's deadline.
    void armDeadline();

    int m_readTimeout = 10000;
    int m_headerTimeout = 10000;
    // Since the connection, or since the first byte of the request after a kept one.
    QElapsedTimer m_requestStart;
    bool m_betweenRequests = false;
    QHostAddress m_client;
    HttpRequest::Limits m_requestLimits;
    QTcpSocket* m_socket = nullptr;
    QTimer* m_readTimer = nullptr;
    HttpRequest* m_currentRequest = nullptr;
    HttpRequestHandler* m_requestHandler = nullptr;
    // Set by the pool from the listener's thread, cleared here.
    std::atomic<bool> m_busy{false};
    HttpTlsConfiguration* m_tls = nullptr;
    bool m_reading = false;
    bool m_disconnectedWhileReading = false;
    bool m_closing = false;
    std::mutex m_stopMutex;
};

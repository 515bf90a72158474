#pragma once

#include "http/HttpRequest.h"

#include <QAbstractSocket>
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
class HttpConnectionHandler : public QThread
{
    Q_OBJECT
public:
    HttpConnectionHandler(const QSettings* settings, HttpRequestHandler* requestHandler,
                          HttpTlsConfiguration* tls = nullptr);
    ~HttpConnectionHandler() override;

    bool isBusy() const { return m_busy; }
    void markBusy() { m_busy = true; }
    // From any thread: ends the connection and the thread's event loop without
    // waiting for a slow peer, the API lock or an image download.
    void stop();

    // Closes a native socket that no socket object took over, if it is still open.
    static void closeDescriptor(tSocketDescriptor socketDescriptor);

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

    int m_readTimeout = 10000;
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

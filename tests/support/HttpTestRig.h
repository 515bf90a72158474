#pragma once

#include "http/HttpRequestHandler.h"

#include <QByteArray>
#include <QMap>
#include <QMutex>
#include <QSslSocket>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class HttpListener;
class QSettings;

// Rigs of the HTTP server tests: a scripted request handler, a listener on a
// thread of its own (so that tests may use blocking client sockets), a client
// that reads HTTP responses, and a capture of the server's log lines.

// Answers by path: /echo (method, path and parameters), /nothing (writes
// nothing), /big?parts=N (N chunks of 64 KiB), /throw (throws), /size (the body
// length), anything else the method and path.
class HttpTestHandler : public HttpRequestHandler
{
    Q_OBJECT
public:
    using HttpRequestHandler::HttpRequestHandler;
    void service(HttpRequest& request, HttpResponseWriter& response) override;
    std::atomic<int> served{0};
};

// The listener, its handler and its settings (a temporary INI file, group
// "listener") live on a server thread.
class HttpTestServer
{
public:
    // Serves with the given handler (not owned), or with an HttpTestHandler.
    explicit HttpTestServer(const QVariantMap& settings, HttpRequestHandler* handler = nullptr);
    ~HttpTestServer();

    // Runs a function on the server thread and waits for it.
    void run(const std::function<void()>& function);
    quint16 port();
    int poolSize();
    HttpListener* listener() const { return m_listener; }
    QSettings* settings() const { return m_settings; }
    HttpTestHandler* handler() const { return m_ownHandler; }
    QString directory() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QThread m_thread;
    QObject* m_context = nullptr;
    std::mutex m_handover;
    QSettings* m_settings = nullptr;
    HttpTestHandler* m_ownHandler = nullptr;
    HttpListener* m_listener = nullptr;
};

struct HttpTestResponse
{
    bool complete = false;
    QByteArray raw;
    int status = 0;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

// A blocking client, plain or TLS. TLS clients trust the build's certificate
// unless told otherwise.
class HttpTestClient
{
public:
    explicit HttpTestClient(bool tls, const QList<QSslCertificate>& caCertificates = buildCertificate());
    bool connectTo(quint16 port, const QString& host = QStringLiteral("127.0.0.1"));
    bool send(const QByteArray& data);
    HttpTestResponse readResponse(int timeoutMs = 10000);
    // Everything the server sends until it closes the connection.
    QByteArray readUntilClosed(int timeoutMs = 10000);
    bool waitForClosed(int timeoutMs = 10000);
    QSslSocket& socket() { return m_socket; }

    // Connects and asks until an answer other than the pool's 503 comes: a
    // handler frees itself a moment after its last peer has gone.
    static std::unique_ptr<HttpTestClient> askUntilServed(quint16 port, bool tls, const QByteArray& request,
                                                          HttpTestResponse* response, int timeoutMs = 10000);

    static QList<QSslCertificate> buildCertificate();
    static QByteArray get(const QByteArray& path, const QByteArray& extraHeaders = QByteArray());

private:
    bool m_tls;
    QSslSocket m_socket;
    QByteArray m_buffer;
};

// A connected loopback pair: the test writes on client(), the code under test
// reads and writes server().
class HttpSocketPair
{
public:
    bool open();
    QTcpSocket& client() { return m_client; }
    QTcpSocket* server() { return m_server; }
    // Sends bytes and waits until all of them are readable on the server side.
    bool deliver(const QByteArray& data);
    // What reaches the client: at least minimum bytes, plus whatever follows
    // within a short quiet period.
    QByteArray receive(int minimum, int timeoutMs = 10000);

private:
    QTcpServer m_listener;
    QTcpSocket m_client;
    QTcpSocket* m_server = nullptr;
};

// Collects every log line of the process; safe from any thread.
class HttpLogCapture
{
public:
    HttpLogCapture();
    ~HttpLogCapture();
    QStringList lines() const;
    int count(const QString& text) const;
    bool waitFor(const QString& text, int occurrences = 1, int timeoutMs = 10000) const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message);
    QtMessageHandler m_previous;
};

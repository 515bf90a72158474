#pragma once

#include "http/HttpRequestHandler.h"

#include <QMap>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class HttpListener;
class QSettings;

// Answers by path: /throw (throws), /big?parts=N (N chunks of 64 KiB),
// anything else the method, path and parameters.
class HttpTestHandler : public HttpRequestHandler
{
    Q_OBJECT
public:
    void service(HttpRequest& request, HttpResponseWriter& response) override;
    std::atomic<int> served{0};
};

// A listener on a thread of its own (so that tests may use blocking clients),
// its settings in a temporary INI file, group "listener".
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
    static QVariantMap tls(); // the build's TLS files

private:
    QTemporaryDir m_dir;
    QThread m_thread;
    QObject m_context;
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

// A blocking client, plain or TLS; TLS clients trust the build's certificate.
class HttpTestClient
{
public:
    explicit HttpTestClient(bool tls);
    bool connectTo(quint16 port, const QString& host = QStringLiteral("127.0.0.1"));
    bool send(const QByteArray& data);
    HttpTestResponse readResponse(int timeoutMs = 10000);
    // Everything the server sends until it closes the connection.
    QByteArray readUntilClosed(int timeoutMs = 10000);
    QSslSocket& socket() { return m_socket; }

    // Asks until an answer other than the pool's 503 comes: a handler frees
    // itself a moment after its last peer has gone.
    static std::unique_ptr<HttpTestClient> askUntilServed(quint16 port, bool tls, const QByteArray& request,
                                                          HttpTestResponse* response, int timeoutMs = 10000);
    static QByteArray get(const QByteArray& path, const QByteArray& extraHeaders = QByteArray());

private:
    bool m_tls;
    QSslSocket m_socket;
    QByteArray m_buffer;
};

// Collects every log line of the process, from any thread.
class HttpLogCapture
{
public:
    HttpLogCapture();
    ~HttpLogCapture();
    QStringList lines() const;
    int count(const QString& text) const { return lines().filter(text).size(); }
    bool waitFor(const QString& text) const;

private:
    QtMessageHandler m_previous;
};

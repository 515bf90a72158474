#pragma once

#include "app/PrivateFiles.h"
#include "core/InstallationCertificate.h"
#include "http/HttpConnectionHandlerPool.h"
#include "http/HttpListener.h"
#include "http/HttpRequest.h"
#include "http/HttpRequestHandler.h"
#include "http/HttpResponseWriter.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>

// Answers /throw by throwing, /big?parts=N with N chunks of 64 KiB, anything else with method, path and parameters.
class HttpTestHandler : public HttpRequestHandler
{
public:
    std::atomic<int> served{0};
    void service(HttpRequest& request, HttpResponseWriter& response) override
    {
        ++served;
        if (request.path() == "/throw")
            throw std::runtime_error("scripted failure");
        if (request.path() == "/big") {
            for (int i = request.parameter("parts").toInt(); i > 0; --i)
                response.write(QByteArray(65536, 'x'));
            return response.write(QByteArray(), true);
        }
        QByteArray body = request.method() + ' ' + request.path();
        const QMultiMap<QByteArray, QByteArray> parameters = request.parameterMap();
        for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
            body += ' ' + it.key() + '=' + it.value();
        response.setHeader("Content-Type", "text/plain");
        response.write(body, true);
    }
};

// A listener on a thread of its own (tests may use blocking clients), settings in group "listener" of an INI file;
// it serves with the given handler (not owned), or with an HttpTestHandler.
class HttpTestServer
{
public:
    explicit HttpTestServer(const QVariantMap& settings, HttpRequestHandler* handler = nullptr)
    {
        m_thread.start();
        m_context.moveToThread(&m_thread);
        run([&]() {
            m_settings = new QSettings(m_dir.filePath(QStringLiteral("server.ini")), QSettings::IniFormat);
            m_settings->beginGroup(QStringLiteral("listener"));
            for (auto it = settings.cbegin(); it != settings.cend(); ++it)
                m_settings->setValue(it.key(), it.value());
            m_ownHandler = handler ? nullptr : new HttpTestHandler;
            m_listener = new HttpListener(m_settings, handler ? handler : m_ownHandler);
            m_port = m_listener->serverPort();
        });
    }
    ~HttpTestServer()
    {
        run([this]() {
            delete m_listener;
            delete m_ownHandler;
            delete m_settings;
            m_context.moveToThread(QCoreApplication::instance()->thread());
        });
        m_thread.quit();
        m_thread.wait();
    }
    // Runs function on the server thread and waits. TSan cannot see Qt's event queue: the call is posted under a
    // standard mutex that the server thread takes first, and its end is a promise.
    void run(const std::function<void()>& function)
    {
        static std::mutex handover;
        std::promise<void> done;
        std::unique_lock<std::mutex> posting(handover);
        QMetaObject::invokeMethod(
            &m_context,
            [&]() {
                std::lock_guard<std::mutex>{handover};
                function();
                done.set_value();
            },
            Qt::QueuedConnection);
        posting.unlock();
        done.get_future().wait();
    }
    quint16 port() const { return m_port; }
    int poolSize()
    {
        int size = 0;
        run([&]() { size = m_listener->pool() ? m_listener->pool()->size() : -1; });
        return size;
    }
    HttpTestHandler* handler() const { return m_ownHandler; }
    // The TLS files of this test process's installation, made as the program makes its own.
    static QVariantMap tls()
    {
        static InstallationCertificate certificate(PrivateFiles::folder());
        static const auto made = certificate.ensure();
        Q_UNUSED(made)
        return {{"sslKeyFile", certificate.keyFile()}, {"sslCertFile", certificate.certFile()}};
    }

private:
    QTemporaryDir m_dir;
    QThread m_thread;
    QObject m_context;
    QSettings* m_settings = nullptr;
    HttpTestHandler* m_ownHandler = nullptr;
    HttpListener* m_listener = nullptr;
    quint16 m_port = 0;
};

struct HttpTestResponse
{
    bool complete = false;
    QByteArray raw;
    int status = 0;                       // 0: no complete answer
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;

    QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); } // empty when no JSON object
};

// A blocking client, plain or TLS; TLS trusts the given certificates, by default this process's installation's.
class HttpTestClient
{
public:
    explicit HttpTestClient(bool tls, QList<QSslCertificate> trusted = {})
        : m_tls(tls)
    {
        if (tls && trusted.isEmpty())
            trusted = QSslCertificate::fromPath(HttpTestServer::tls().value("sslCertFile").toString());
        QSslConfiguration configuration = m_socket.sslConfiguration();
        configuration.setCaCertificates(trusted);
        m_socket.setSslConfiguration(configuration);
    }
    QSslSocket& socket() { return m_socket; }
    bool connectTo(quint16 port)
    {
        if (!m_tls)
            return m_socket.connectToHost(QStringLiteral("127.0.0.1"), port), m_socket.waitForConnected(10000);
        m_socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        return m_socket.waitForEncrypted(10000);
    }
    bool send(const QByteArray& data)
    {
        return m_socket.write(data) == data.size() && (m_socket.waitForBytesWritten(10000) || !m_socket.bytesToWrite());
    }
    HttpTestResponse readResponse(int timeoutMs = 10000)
    {
        HttpTestResponse response;
        for (const QDeadlineTimer deadline(timeoutMs);; m_socket.waitForReadyRead(remaining(deadline))) {
            const bool closed = m_socket.state() == QAbstractSocket::UnconnectedState; // bytes stay readable
            m_buffer += m_socket.readAll();
            const int end = parse(m_buffer, closed, &response);
            if (end >= 0) {
                response.complete = true;
                response.raw = m_buffer.left(end);
                m_buffer.remove(0, end);
                return response;
            }
            if (closed || deadline.hasExpired())
                return HttpTestResponse();
        }
    }
    QByteArray readUntilClosed(int timeoutMs = 10000)
    {
        for (const QDeadlineTimer deadline(timeoutMs);
             m_socket.state() != QAbstractSocket::UnconnectedState && !deadline.hasExpired();
             m_buffer += m_socket.readAll())
            m_socket.waitForReadyRead(remaining(deadline));
        const QByteArray data = std::exchange(m_buffer, {}) + m_socket.readAll();
        return m_socket.state() == QAbstractSocket::UnconnectedState ? data : "still connected: " + data;
    }
    static QByteArray get(const QByteArray& path, const QByteArray& extraHeaders = QByteArray())
    {
        return "GET " + path + " HTTP/1.1\r\nHost: localhost\r\n" + extraHeaders + "\r\n";
    }
    // Asks until an answer other than the pool's 503 comes: a handler frees itself a moment after its peer left.
    static std::unique_ptr<HttpTestClient> askUntilServed(quint16 port, bool tls, const QByteArray& request,
                                                          HttpTestResponse* response, int timeoutMs = 10000)
    {
        for (const QDeadlineTimer deadline(timeoutMs); !deadline.hasExpired(); QTest::qWait(50)) {
            auto client = std::make_unique<HttpTestClient>(tls);
            if (client->connectTo(port) && client->send(request)) { // a refused TLS client fails its handshake
                *response = client->readResponse(remaining(deadline));
                if (response->complete && response->status != 503)
                    return client;
            }
        }
        return nullptr;
    }

private:
    static int remaining(const QDeadlineTimer& deadline) { return int(qMax<qint64>(1, deadline.remainingTime())); }

    // End of the response at the start of data, or -1 while incomplete; without length or chunks, the close ends it.
    static int parse(const QByteArray& data, bool closed, HttpTestResponse* response)
    {
        const int headEnd = data.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return -1;
        *response = HttpTestResponse();
        const QList<QByteArray> lines = data.left(headEnd).split('\n');
        response->status = lines.value(0).split(' ').value(1).toInt();
        for (const QByteArray& line : lines.mid(1))
            response->headers.insert(line.left(line.indexOf(':')).toLower(), line.mid(line.indexOf(':') + 1).trimmed());
        int at = headEnd + 4, lineEnd = 0;
        if (response->headers.contains("content-length")) {
            const int end = at + response->headers.value("content-length").toInt();
            response->body = data.mid(at, end - at);
            return data.size() >= end ? end : -1;
        }
        if (response->headers.value("transfer-encoding") != "chunked")
            return response->body = data.mid(at), closed ? data.size() : -1;
        if (data.indexOf("\r\n0\r\n\r\n", at - 2) < 0)
            return -1; // not even the last chunk yet: spares parsing a long body again and again
        for (int size = 1; size > 0; at = lineEnd + size + 4) {
            lineEnd = data.indexOf("\r\n", at);
            bool ok = false;
            size = data.mid(at, lineEnd - at).toInt(&ok, 16);
            if (lineEnd < 0 || !ok || data.size() < lineEnd + size + 4)
                return -1;
            response->body += data.mid(lineEnd + 2, size);
        }
        return at;
    }

    bool m_tls;
    QSslSocket m_socket;
    QByteArray m_buffer;
};

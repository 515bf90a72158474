#include "support/HttpTestRig.h"

#include "http/HttpConnectionHandlerPool.h"
#include "http/HttpListener.h"
#include "http/HttpRequest.h"
#include "http/HttpResponseWriter.h"

#include <QDeadlineTimer>
#include <QSettings>
#include <QtTest>

#include <stdexcept>

void HttpTestHandler::service(HttpRequest& request, HttpResponseWriter& response)
{
    ++served;
    const QByteArray path = request.path();
    if (path == "/throw")
        throw std::runtime_error("scripted failure");
    if (path == "/big") {
        for (int i = request.parameter("parts").toInt(); i > 0; --i)
            response.write(QByteArray(65536, 'x'));
        response.write(QByteArray(), true);
    } else {
        QByteArray body = request.method() + ' ' + path;
        const QMultiMap<QByteArray, QByteArray> parameters = request.parameterMap();
        for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
            body += ' ' + it.key() + '=' + it.value();
        response.setHeader("Content-Type", "text/plain");
        response.write(body, true);
    }
}

HttpTestServer::HttpTestServer(const QVariantMap& settings, HttpRequestHandler* handler)
{
    m_thread.start();
    m_context.moveToThread(&m_thread);
    run([this, settings, handler]() {
        m_settings = new QSettings(m_dir.filePath(QStringLiteral("server.ini")), QSettings::IniFormat);
        m_settings->beginGroup(QStringLiteral("listener"));
        for (auto it = settings.cbegin(); it != settings.cend(); ++it)
            m_settings->setValue(it.key(), it.value());
        m_ownHandler = handler ? nullptr : new HttpTestHandler;
        m_listener = new HttpListener(m_settings, handler ? handler : m_ownHandler);
    });
}

HttpTestServer::~HttpTestServer()
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

void HttpTestServer::run(const std::function<void()>& function)
{
    // Blocking: the caller needs the result, and the server thread never waits
    // for the caller. The standard mutex on both sides shows the thread
    // sanitizer the order that Qt's semaphore (invisible to it) gives.
    {
        std::lock_guard<std::mutex> handover(m_handover);
    }
    QMetaObject::invokeMethod(
        &m_context,
        [this, &function]() {
            std::lock_guard<std::mutex> handover(m_handover);
            function();
        },
        Qt::BlockingQueuedConnection);
    std::lock_guard<std::mutex> handover(m_handover);
}

quint16 HttpTestServer::port()
{
    quint16 port = 0;
    run([this, &port]() { port = m_listener->serverPort(); });
    return port;
}

int HttpTestServer::poolSize()
{
    int size = -1;
    run([this, &size]() { size = m_listener->pool() ? m_listener->pool()->size() : -1; });
    return size;
}

QVariantMap HttpTestServer::tls()
{
    const QString ssl = qEnvironmentVariable("QLK_BUILD_DIR") + QStringLiteral("/ssl/");
    return {{"sslKeyFile", ssl + "qlk.key"}, {"sslCertFile", ssl + "qlk.cert"}};
}

namespace {

int remaining(const QDeadlineTimer& deadline)
{
    return int(qMax<qint64>(1, deadline.remainingTime()));
}

// End of the response at the start of data, or -1 while it is incomplete. A
// response without length or chunks ends when the connection closes.
int parseResponse(const QByteArray& data, bool closed, HttpTestResponse* response)
{
    const int headEnd = data.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return -1;
    *response = HttpTestResponse();
    const QList<QByteArray> lines = data.left(headEnd).split('\n');
    response->status = lines.value(0).split(' ').value(1).toInt();
    for (const QByteArray& line : lines.mid(1)) {
        const int colon = line.indexOf(':');
        response->headers.insert(line.left(colon).toLower(), line.mid(colon + 1).trimmed());
    }
    int at = headEnd + 4;
    if (response->headers.contains("content-length")) {
        const int end = at + response->headers.value("content-length").toInt();
        response->body = data.mid(at, end - at);
        return data.size() >= end ? end : -1;
    }
    if (response->headers.value("transfer-encoding") != "chunked") {
        response->body = data.mid(at);
        return closed ? data.size() : -1;
    }
    if (data.indexOf("\r\n0\r\n\r\n", at - 2) < 0)
        return -1; // not even the last chunk yet: spares parsing a long body again and again
    for (;;) {
        const int lineEnd = data.indexOf("\r\n", at);
        bool ok = false;
        const int size = data.mid(at, lineEnd - at).toInt(&ok, 16);
        if (lineEnd < 0 || !ok || data.size() < lineEnd + size + 4)
            return -1;
        response->body += data.mid(lineEnd + 2, size);
        at = lineEnd + size + 4;
        if (size == 0)
            return at;
    }
}

} // namespace

HttpTestClient::HttpTestClient(bool tls)
    : m_tls(tls)
{
    QSslConfiguration configuration = m_socket.sslConfiguration();
    configuration.setCaCertificates(
        QSslCertificate::fromPath(qEnvironmentVariable("QLK_BUILD_DIR") + QStringLiteral("/ssl/qlk.cert")));
    m_socket.setSslConfiguration(configuration);
}

QByteArray HttpTestClient::get(const QByteArray& path, const QByteArray& extraHeaders)
{
    return "GET " + path + " HTTP/1.1\r\nHost: localhost\r\n" + extraHeaders + "\r\n";
}

std::unique_ptr<HttpTestClient> HttpTestClient::askUntilServed(quint16 port, bool tls, const QByteArray& request,
                                                               HttpTestResponse* response, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        auto client = std::make_unique<HttpTestClient>(tls);
        // A refused TLS client fails its handshake: the refusal is plain text.
        if (client->connectTo(port) && client->send(request)) {
            *response = client->readResponse(remaining(deadline));
            if (response->complete && response->status != 503)
                return client;
        }
        QTest::qWait(50);
    }
    return nullptr;
}

bool HttpTestClient::connectTo(quint16 port, const QString& host)
{
    if (!m_tls) {
        m_socket.connectToHost(host, port);
        return m_socket.waitForConnected(10000);
    }
    m_socket.connectToHostEncrypted(host, port);
    return m_socket.waitForEncrypted(10000);
}

bool HttpTestClient::send(const QByteArray& data)
{
    return m_socket.write(data) == data.size() && (m_socket.waitForBytesWritten(10000) || m_socket.bytesToWrite() == 0);
}

HttpTestResponse HttpTestClient::readResponse(int timeoutMs)
{
    HttpTestResponse response;
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        // Bytes stay readable after the peer has closed.
        const bool closed = m_socket.state() == QAbstractSocket::UnconnectedState;
        m_buffer += m_socket.readAll();
        const int end = parseResponse(m_buffer, closed, &response);
        if (end >= 0) {
            response.complete = true;
            response.raw = m_buffer.left(end);
            m_buffer.remove(0, end);
            return response;
        }
        if (closed || deadline.hasExpired())
            return HttpTestResponse();
        m_socket.waitForReadyRead(remaining(deadline));
    }
}

QByteArray HttpTestClient::readUntilClosed(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (m_socket.state() != QAbstractSocket::UnconnectedState && !deadline.hasExpired()) {
        m_socket.waitForReadyRead(remaining(deadline));
        m_buffer += m_socket.readAll();
    }
    const QByteArray data = m_buffer + m_socket.readAll();
    m_buffer.clear();
    return m_socket.state() == QAbstractSocket::UnconnectedState ? data : "still connected: " + data;
}

namespace {
// A standard mutex: the thread sanitizer sees it (Qt's own is invisible to it under contention).
std::mutex g_logMutex;
QStringList g_logLines;
QtMessageHandler g_previousHandler = nullptr;
} // namespace

HttpLogCapture::HttpLogCapture()
{
    m_previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
        {
            std::lock_guard<std::mutex> locker(g_logMutex);
            g_logLines.append(message);
        }
        static const bool echo = qEnvironmentVariableIsSet("QLK_HTTP_TEST_LOG");
        if ((echo || type == QtFatalMsg) && g_previousHandler)
            g_previousHandler(type, context, message);
    });
    g_previousHandler = m_previous;
}

HttpLogCapture::~HttpLogCapture()
{
    qInstallMessageHandler(m_previous);
    std::lock_guard<std::mutex> locker(g_logMutex);
    g_logLines.clear();
}

QStringList HttpLogCapture::lines() const
{
    std::lock_guard<std::mutex> locker(g_logMutex);
    return g_logLines;
}

bool HttpLogCapture::waitFor(const QString& text) const
{
    return QTest::qWaitFor([&]() { return count(text) > 0; }, 10000);
}

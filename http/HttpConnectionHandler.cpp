#include "http/HttpConnectionHandler.h"

#include "http/HttpRequest.h"
#include "http/HttpRequestHandler.h"
#include "http/HttpResponseWriter.h"
#include "http/HttpTlsConfiguration.h"

#include <QSettings>
#include <QSslSocket>
#include <QTimer>
#include <QtDebug>

#include <exception>

namespace {
const QByteArray kEntityTooLarge = "HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too large\r\n";
const QByteArray kBadRequest = "HTTP/1.1 400 bad request\r\nConnection: close\r\n\r\n400 Bad request\r\n";
const QByteArray kLengthRequired = "HTTP/1.1 411 length required\r\nConnection: close\r\n\r\n411 Length required\r\n";
// What a connection may hold unread while its request is being served: beyond
// it the kernel's window stops the sender instead of our memory growing.
constexpr qint64 kReadBufferBytes = 65536;
} // namespace

HttpConnectionHandler::HttpConnectionHandler(const QSettings* settings, HttpRequestHandler* requestHandler,
                                             HttpTlsConfiguration* tls)
    : m_requestHandler(requestHandler)
    , m_tls(tls)
{
    // Read once, here on the pool's thread, which owns the settings object: the
    // listener's group is only rewritten when a server is built, and every read
    // takes a lock that all connection threads would share on every request.
    if (settings) {
        m_readTimeout = settings->value(QStringLiteral("readTimeout"), m_readTimeout).toInt();
        m_headerTimeout = settings->value(QStringLiteral("headerTimeout"), m_headerTimeout).toInt();
    }
    m_headerTimeout = qMin(m_headerTimeout, m_readTimeout);
    m_requestLimits = HttpRequest::limitsFrom(settings);
    createSocket();
    m_readTimer = new QTimer(this);
    m_readTimer->setSingleShot(true);

    // The handler's slots, its socket and its timer all run in its own thread.
    moveToThread(this);
    m_socket->moveToThread(this);

    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnectionHandler::read);
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpConnectionHandler::disconnected);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &HttpConnectionHandler::socketError);
    connect(m_readTimer, &QTimer::timeout, this, &HttpConnectionHandler::readTimeout);

    qDebug("HttpConnectionHandler (%p): constructed", static_cast<void*>(this));
    start();
}

HttpConnectionHandler::~HttpConnectionHandler()
{
    stop();
    wait();
    // wait() already orders the thread's last steps before these; the mutex
    // only makes that order visible to the thread sanitizer.
    std::lock_guard<std::mutex> stopped(m_stopMutex);
    delete m_currentRequest;
    qDebug("HttpConnectionHandler (%p): destroyed", static_cast<void*>(this));
}

void HttpConnectionHandler::stop()
{
    // Every wait of this thread (for a peer, for the API lock, for an image)
    // looks at the interruption request in short steps and gives up.
    requestInterruption();
    quit();
}

void HttpConnectionHandler::createSocket()
{
    if (m_tls) {
        m_socket = new QSslSocket;
        qDebug("HttpConnectionHandler (%p): SSL is enabled", static_cast<void*>(this));
    } else {
        m_socket = new QTcpSocket;
    }
}

void HttpConnectionHandler::run()
{
    qDebug("HttpConnectionHandler (%p): thread started", static_cast<void*>(this));
    try {
        exec();
    } catch (...) {
        qCritical("HttpConnectionHandler (%p): an uncatched exception occured in the thread", static_cast<void*>(this));
    }
    std::lock_guard<std::mutex> stopped(m_stopMutex);
    // At once: a peer that takes nothing must not hold the end of the thread.
    m_socket->abort();
    delete m_socket;
    m_socket = nullptr;
    m_readTimer->stop();
    qDebug("HttpConnectionHandler (%p): thread stopped", static_cast<void*>(this));
}

void HttpConnectionHandler::handleConnection(tSocketDescriptor socketDescriptor)
{
    qDebug("HttpConnectionHandler (%p): handle new connection", static_cast<void*>(this));
    m_busy = true;

    // A connection attempt resets the reused socket (a TLS socket included);
    // aborting it at once empties what the last connection left in its buffers.
    m_socket->connectToHost(QString(), 0);
    m_socket->abort();

    if (!m_socket->setSocketDescriptor(socketDescriptor)) {
        qCritical("HttpConnectionHandler (%p): cannot initialize socket: %s", static_cast<void*>(this),
                  qPrintable(m_socket->errorString()));
        // Not closed here: Qt closes a descriptor it cannot make non-blocking and an
        // invalid one is not open, so a close could hit a number another thread has
        // just been given. No connection to serve: the handler is free again rather than lost to the pool.
        m_busy = false;
        return;
    }

    // Set on every connection: a TLS socket passes it on to the connection it wraps.
    m_socket->setReadBufferSize(kReadBufferBytes);
    if (m_tls) {
        qDebug("HttpConnectionHandler (%p): Starting encryption", static_cast<void*>(this));
        auto* sslSocket = static_cast<QSslSocket*>(m_socket);
        sslSocket->setSslConfiguration(m_tls->current());
        sslSocket->startServerEncryption();
    }

    // The handshake and the first request's headers count from now.
    m_requestStart.start();
    m_betweenRequests = false;
    m_readTimer->start(m_headerTimeout);
    delete m_currentRequest;
    m_currentRequest = nullptr;
}

void HttpConnectionHandler::armDeadline()
{
    // Counted from the request's start, never restarted by the bytes that come:
    // a client that trickles them holds the thread no longer than that.
    const bool body = m_currentRequest && m_currentRequest->status() == HttpRequest::AwaitingBody;
    const qint64 left = (body ? m_readTimeout : m_headerTimeout) - m_requestStart.elapsed();
    m_readTimer->start(int(qMax<qint64>(0, left)));
}

void HttpConnectionHandler::readTimeout()
{
    qDebug("HttpConnectionHandler (%p): read timeout occured", static_cast<void*>(this));
    // Bytes that come while the connection drains are not served.
    m_closing = true;
    closeConnection();
    m_closing = false;
    delete m_currentRequest;
    m_currentRequest = nullptr;
}

void HttpConnectionHandler::closeConnection()
{
    if (HttpResponseWriter::drain(m_socket, readTimeoutMs()))
        m_socket->disconnectFromHost();
}

void HttpConnectionHandler::read()
{
    // Waiting for a slow peer inside service() may deliver readyRead again; the
    // loop below picks those bytes up once the current request is done.
    if (m_reading || m_closing)
        return;
    m_reading = true;
    struct ReadingGuard
    {
        HttpConnectionHandler* handler;
        ~ReadingGuard()
        {
            handler->m_reading = false;
            // A peer that left during service() frees the handler only now:
            // the pool must not reuse or delete a handler that is still working.
            if (handler->m_disconnectedWhileReading) {
                handler->m_disconnectedWhileReading = false;
                handler->m_busy = false;
            }
        }
    } guard{this};

    const int timeout = readTimeoutMs();
    while (m_socket->isOpen() && m_socket->bytesAvailable() > 0) {
        if (isInterruptionRequested()) {
            m_socket->abort(); // the server is being switched off
            return;
        }
        if (!m_currentRequest)
            m_currentRequest = new HttpRequest(m_requestLimits);
        if (m_betweenRequests) {
            m_betweenRequests = false;
            m_requestStart.start(); // the next request's first byte
        }

        while (m_socket->bytesAvailable() > 0 && m_currentRequest->status() != HttpRequest::Complete &&
               m_currentRequest->status() != HttpRequest::Aborted) {
            const qint64 available = m_socket->bytesAvailable();
            const HttpRequest::RequestStatus before = m_currentRequest->status();
            m_currentRequest->readFromSocket(m_socket);
            if (m_socket->bytesAvailable() == available && m_currentRequest->status() == before)
                break;
        }

        if (m_currentRequest->status() == HttpRequest::Aborted) {
            const HttpRequest::Refusal refusal = m_currentRequest->refusal();
            m_socket->write(refusal == HttpRequest::BadRequest       ? kBadRequest
                            : refusal == HttpRequest::LengthRequired ? kLengthRequired
                                                                     : kEntityTooLarge);
            closeConnection();
            delete m_currentRequest;
            m_currentRequest = nullptr;
            return;
        }

        if (m_currentRequest->status() != HttpRequest::Complete) {
            armDeadline(); // the rest comes with the next bytes, within the deadline
            return;
        }

        m_readTimer->stop();
        qDebug("HttpConnectionHandler (%p): received request", static_cast<void*>(this));

        HttpResponseWriter response(m_socket, timeout);
        bool closeConnectionAfter = false;
        if (m_currentRequest->header("Connection").toLower() == "close") {
            closeConnectionAfter = true;
            response.setHeader("Connection", "close");
        } else if (m_currentRequest->version().toLower() == "http/1.0") {
            // HTTP/1.0 knows no chunked transfer: the end of the connection ends the body.
            closeConnectionAfter = true;
            response.setHeader("Connection", "close");
        }

        try {
            m_requestHandler->service(*m_currentRequest, response);
        } catch (const std::exception& e) {
            qCritical("HttpConnectionHandler (%p): An uncatched exception occured in the request handler",
                      static_cast<void*>(this));
            qDebug("HttpConnectionHandler (%p): %s", static_cast<void*>(this), e.what());
        } catch (...) {
            qCritical("HttpConnectionHandler (%p): An uncatched exception occured in the request handler",
                      static_cast<void*>(this));
        }

        if (!response.hasSentLastPart())
            response.write(QByteArray(), true);
        qDebug("HttpConnectionHandler (%p): finished request", static_cast<void*>(this));

        if (!closeConnectionAfter) {
            const QMap<QByteArray, QByteArray>& headers = response.headers();
            if (headers.value("Connection").toLower() == "close")
                closeConnectionAfter = true;
            else if (!headers.contains("Content-Length") && headers.value("Transfer-Encoding").toLower() != "chunked")
                closeConnectionAfter = true;
        }

        delete m_currentRequest;
        m_currentRequest = nullptr;
        if (closeConnectionAfter) {
            closeConnection();
            return; // bytes that follow on a closed connection are not served
        }
        if (m_socket->isOpen()) {
            m_betweenRequests = true;
            m_readTimer->start(timeout);
        }
    }
}

void HttpConnectionHandler::socketError(QAbstractSocket::SocketError socketError)
{
    // The bounded waits for a slow peer time out in short steps; they say so
    // themselves when they give up.
    if (socketError == QAbstractSocket::SocketTimeoutError)
        return;
    qDebug() << "Socket Error" << m_socket->errorString();
}

void HttpConnectionHandler::disconnected()
{
    qDebug("HttpConnectionHandler (%p): disconnected", static_cast<void*>(this));
    m_socket->close();
    m_readTimer->stop();
    if (m_reading)
        m_disconnectedWhileReading = true;
    else
        m_busy = false;
}

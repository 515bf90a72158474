#include "http/HttpListener.h"

#include "http/HttpConnectionHandlerPool.h"

#include <QSettings>
#include <QTcpSocket>
#include <QtDebug>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

const QByteArray kTooManyConnections =
    "HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\nToo many connections\r\n";

// The address of the peer of a connection not yet adopted by any socket object.
QHostAddress peerOf(qintptr socketDescriptor)
{
    sockaddr_storage address{};
#ifdef Q_OS_WIN
    int length = sizeof address;
    if (::getpeername(SOCKET(socketDescriptor), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return QHostAddress();
#else
    socklen_t length = sizeof address;
    if (::getpeername(int(socketDescriptor), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return QHostAddress();
#endif
    return QHostAddress(reinterpret_cast<const sockaddr*>(&address));
}

// Closes a connection that no socket object took over, if it is still open.
void closeDescriptor(qintptr socketDescriptor)
{
#ifdef Q_OS_WIN
    ::closesocket(SOCKET(socketDescriptor));
#else
    if (::fcntl(int(socketDescriptor), F_GETFD) != -1)
        ::close(int(socketDescriptor));
#endif
}

} // namespace

HttpListener::HttpListener(QSettings* settings, HttpRequestHandler* requestHandler, QObject* parent)
    : QTcpServer(parent)
    , m_settings(settings)
    , m_requestHandler(requestHandler)
{
    qRegisterMetaType<tSocketDescriptor>("tSocketDescriptor");
    listen();
}

HttpListener::~HttpListener()
{
    close();
    qDebug("HttpListener: destroyed");
}

void HttpListener::listen()
{
    emit aboutToListen();
    const QString host = m_settings->value(QStringLiteral("host")).toString();
    const int port = m_settings->value(QStringLiteral("port")).toInt();
    if (!m_pool)
        m_pool = new HttpConnectionHandlerPool(m_settings, m_requestHandler);
    // Named TLS files that cannot be used never fall back to plain HTTP.
    m_tlsError = m_pool->tlsError();
    if (!m_tlsError.isEmpty()) {
        qCritical("HttpListener: Not listening on port %i: no usable TLS certificate: %s", port,
                  qPrintable(m_tlsError));
        delete m_pool;
        m_pool = nullptr;
        return;
    }
    QTcpServer::listen(host.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(host), quint16(port & 0xFFFF));
    if (isListening())
        qDebug("HttpListener: Listening on port %i", port);
    else
        qCritical("HttpListener: Cannot bind on port %i: %s", port, errorString().toLocal8Bit().constData());
}

void HttpListener::close()
{
    QTcpServer::close();
    qDebug("HttpListener: closed");
    delete m_pool;
    m_pool = nullptr;
}

void HttpListener::incomingConnection(qintptr socketDescriptor)
{
    HttpConnectionHandler* handler = m_pool ? m_pool->acquireHandler(peerOf(socketDescriptor)) : nullptr;
    if (handler) {
        // Queued: the handler adopts the descriptor in its own thread.
        QMetaObject::invokeMethod(
            handler, [handler, socketDescriptor]() { handler->handleConnection(socketDescriptor); },
            Qt::QueuedConnection);
        return;
    }

    qDebug("HttpListener: Too many incoming connections");
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        // This thread accepted it and gave it to nobody else: ours to end, not to leak.
        closeDescriptor(socketDescriptor);
        return;
    }
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    // A peer that resets the connection may never let it reach "disconnected".
    connect(socket, &QTcpSocket::errorOccurred, socket, &QObject::deleteLater);
    socket->write(kTooManyConnections);
    socket->disconnectFromHost();
}

#include "support/ImageServer.h"

#include <QHostAddress>
#include <QTcpSocket>

ImageServer::ImageServer(QObject* parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &ImageServer::onNewConnection);
}

bool ImageServer::start()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString ImageServer::url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
}

void ImageServer::serve(const QString& path, const QByteArray& body, int status, qint64 declaredLength)
{
    Route route;
    route.body = body;
    route.status = status;
    route.declaredLength = declaredLength;
    m_routes.insert(path, route);
}

void ImageServer::silence(const QString& path)
{
    Route route;
    route.silent = true;
    m_routes.insert(path, route);
}

void ImageServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void ImageServer::onReadyRead(QTcpSocket* socket)
{
    // Answer once the whole request head has arrived; image requests have no body.
    const QByteArray head = socket->peek(socket->bytesAvailable());
    if (!head.contains("\r\n\r\n"))
        return;
    socket->readAll();
    ++m_requests;
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    const QString path = requestLine.size() > 1 ? QString::fromLatin1(requestLine.at(1)) : QString();
    const auto it = m_routes.constFind(path);
    if (it != m_routes.constEnd() && it->silent) {
        m_held.append(socket); // kept open, never answered
        return;
    }
    const Route route = it != m_routes.constEnd() ? *it : Route{QByteArrayLiteral("not found"), 404, -1, false};
    const qint64 length = route.declaredLength >= 0 ? route.declaredLength : route.body.size();
    QByteArray response = "HTTP/1.1 " + QByteArray::number(route.status) + " X\r\n";
    response += "Content-Type: application/octet-stream\r\n";
    response += "Content-Length: " + QByteArray::number(length) + "\r\n";
    response += "Connection: close\r\n\r\n";
    response += route.body;
    socket->write(response);
    socket->disconnectFromHost();
}

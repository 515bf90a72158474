#include "support/ImageServer.h"

#include <QTcpSocket>

ImageServer::ImageServer()
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            socket->setParent(this); // kept open until the server goes, answered or not
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
        }
    });
}

QString ImageServer::url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
}

void ImageServer::serve(const QString& path, const QByteArray& body, int status, qint64 declaredLength)
{
    m_routes.insert(path, Route{body, status, declaredLength});
}

void ImageServer::answer(QTcpSocket* socket)
{
    // Answer once the whole request head has arrived; image requests have no body.
    const QByteArray head = socket->peek(socket->bytesAvailable());
    if (!head.contains("\r\n\r\n"))
        return;
    socket->readAll();
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    const QString path = requestLine.size() > 1 ? QString::fromLatin1(requestLine.at(1)) : QString();
    const Route route = m_routes.value(path, Route{"not found", 404, -1});
    if (route.status == 0)
        return;
    const qint64 length = route.declaredLength >= 0 ? route.declaredLength : route.body.size();
    socket->write("HTTP/1.1 " + QByteArray::number(route.status) + " X\r\nContent-Type: application/octet-stream\r\n" +
                  "Content-Length: " + QByteArray::number(length) + "\r\nConnection: close\r\n\r\n" + route.body);
    socket->disconnectFromHost();
}

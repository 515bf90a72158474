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

void ImageServer::answer(QTcpSocket* socket)
{
    // Once the whole request head is in; image requests have no body.
    const QByteArray head = socket->peek(socket->bytesAvailable());
    if (!head.contains("\r\n\r\n"))
        return;
    socket->readAll();
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    const Route route = m_routes.value(QString::fromLatin1(requestLine.value(1)), Route{"not found", 404, -1});
    if (route.status == 0)
        return;
    const qint64 length = route.declaredLength >= 0 ? route.declaredLength : route.body.size();
    socket->write("HTTP/1.1 " + QByteArray::number(route.status) + " X\r\nContent-Type: application/octet-stream\r\n" +
                  "Content-Length: " + QByteArray::number(length) + "\r\nConnection: close\r\n\r\n" + route.body);
    socket->disconnectFromHost();
}

#pragma once

#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>

#include <tuple>

// HTTP on loopback (both families, one port) for downloads, 404 for unknown paths; it runs on its thread's event
// loop, such as the downloader's local loop.
class ImageServer
{
public:
    ImageServer()
    {
        for (QTcpServer* server : {&m_server, &m_serverV6})
            QObject::connect(server, &QTcpServer::newConnection, server, [this, server] {
                while (QTcpSocket* socket = server->nextPendingConnection()) {
                    socket->setParent(&m_server); // kept open until the server goes, answered or not
                    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
                }
            });
    }
    bool start()
    {
        return m_server.listen(QHostAddress::LocalHost, 0) &&
               (m_serverV6.listen(QHostAddress::LocalHostIPv6, m_server.serverPort()), true);
    }
    // Requests received so far, answered or not, and the head of the last one.
    int requests() const { return m_requests; }
    QByteArray lastHead() const { return m_lastHead; }
    QString url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }
    // Status 0: never answered. declaredLength >= 0: sent as Content-Length instead of the body's.
    void serve(const QString& path, const QByteArray& body, int status = 200, qint64 declaredLength = -1)
    {
        m_routes.insert(path, {body, status, declaredLength, {}});
    }

protected:
    using Route = std::tuple<QByteArray, int, qint64, QByteArray>; // body, status, declared length, content type

    void answer(QTcpSocket* socket)
    {
        const QByteArray head = socket->peek(socket->bytesAvailable());
        if (!head.contains("\r\n\r\n")) // GET only: no body
            return;
        socket->readAll();
        ++m_requests;
        m_lastHead = head;
        const QString path = QString::fromLatin1(head.left(head.indexOf("\r\n")).split(' ').value(1));
        const auto [body, status, declared, type] = m_routes.value(path, Route{"not found", 404, -1, "text/plain"});
        if (status == 0)
            return;
        socket->write("HTTP/1.1 " + QByteArray::number(status) +
                      " X\r\nContent-Length: " + QByteArray::number(declared >= 0 ? declared : body.size()) +
                      (type.isEmpty() ? QByteArray() : "\r\nContent-Type: " + type) +
                      "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server, m_serverV6;
    QHash<QString, Route> m_routes;
    int m_requests = 0;
    QByteArray m_lastHead;
};

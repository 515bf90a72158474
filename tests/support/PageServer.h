#pragma once

#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

// Serves pages set by the test to a browser on http://localhost:PORT, on both loopback families (a browser may
// resolve localhost to either; 127.0.0.1 is another origin). Runs on its thread's event loop (HeadlessBrowser runs it).
class PageServer : public QObject
{
public:
    PageServer()
    {
        if (m_server.listen(QHostAddress::LocalHost, 0))
            m_serverV6.listen(QHostAddress::LocalHostIPv6, m_server.serverPort());
        for (QTcpServer* server : {&m_server, &m_serverV6})
            connect(server, &QTcpServer::newConnection, this, [this, server] {
                while (QTcpSocket* socket = server->nextPendingConnection()) {
                    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
                }
            });
    }
    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }
    QString url(const QString& path, const QString& host = QStringLiteral("localhost")) const
    {
        return QStringLiteral("http://%1:%2%3").arg(host).arg(port()).arg(path);
    }
    void setPage(const QString& path, const QByteArray& content, const QByteArray& type = "text/html; charset=utf-8")
    {
        m_pages.insert(path, {content, type});
    }

private:
    // GET only, one request per connection.
    void serve(QTcpSocket* socket)
    {
        const QByteArray head = socket->property("head").toByteArray() + socket->readAll();
        socket->setProperty("head", head);
        if (!head.contains("\r\n\r\n"))
            return;
        const auto page = m_pages.value(QUrl(QString::fromLatin1(head.split(' ').value(1))).path());
        socket->write("HTTP/1.1 " + QByteArray(page.second.isEmpty() ? "404 Not Found" : "200 OK") +
                      "\r\nContent-Type: " + (page.second.isEmpty() ? "text/plain" : page.second) +
                      "\r\nContent-Length: " + QByteArray::number(page.first.size()) +
                      "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + page.first);
        socket->disconnectFromHost();
    }

    QHash<QString, QPair<QByteArray, QByteArray>> m_pages;
    QTcpServer m_server;
    QTcpServer m_serverV6;
};

#include "PageServer.h"

#include <QDir>
#include <QFile>
#include <QMimeDatabase>
#include <QTcpSocket>
#include <QUrl>

PageServer::PageServer(const QString& folder)
    : m_folder(folder)
{
    // Both loopback families on one port: a browser may resolve localhost to
    // either, and 127.0.0.1 names the same server under another origin.
    if (m_server.listen(QHostAddress::LocalHost, 0))
        m_serverV6.listen(QHostAddress::LocalHostIPv6, m_server.serverPort());
    for (QTcpServer* server : {&m_server, &m_serverV6}) {
        connect(server, &QTcpServer::newConnection, this, [this, server] {
            while (QTcpSocket* socket = server->nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            }
        });
    }
}

QString PageServer::url(const QString& path, const QString& host) const
{
    return QStringLiteral("http://%1:%2%3").arg(host).arg(port()).arg(path);
}

void PageServer::setPage(const QString& path, const QByteArray& content, const QByteArray& type)
{
    m_pages.insert(path, {content, type});
}

void PageServer::serve(QTcpSocket* socket)
{
    // GET only, one request per connection: enough for pages and scripts.
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    socket->setProperty("head", head);
    if (!head.contains("\r\n\r\n"))
        return;
    const QString path = QUrl(QString::fromLatin1(head.split(' ').value(1))).path();
    QPair<QByteArray, QByteArray> page = m_pages.value(path);
    if (page.second.isEmpty() && !m_folder.isEmpty() && !path.contains(QLatin1String(".."))) {
        QFile file(QDir(m_folder).filePath(path.mid(1)));
        if (file.open(QIODevice::ReadOnly))
            page = {file.readAll(), QMimeDatabase().mimeTypeForFile(file.fileName()).name().toUtf8()};
    }
    const QByteArray status = page.second.isEmpty() ? "404 Not Found" : "200 OK";
    socket->write("HTTP/1.1 " + status + "\r\nContent-Type: " + (page.second.isEmpty() ? "text/plain" : page.second) +
                  "\r\nContent-Length: " + QByteArray::number(page.first.size()) +
                  "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + page.first);
    socket->disconnectFromHost();
}

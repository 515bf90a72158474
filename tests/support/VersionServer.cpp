#include "support/VersionServer.h"

#include <QHostAddress>
#include <QTcpSocket>

VersionServer::VersionServer(QObject* parent)
    : QTcpServer(parent)
{
    connect(this, &QTcpServer::newConnection, this, &VersionServer::onNewConnection);
}

bool VersionServer::start()
{
    return listen(QHostAddress::LocalHost, 0);
}

QUrl VersionServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/hasNewVersion").arg(serverPort()));
}

void VersionServer::onNewConnection()
{
    while (QTcpSocket* socket = nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void VersionServer::onReadyRead(QTcpSocket* socket)
{
    QByteArray buffered = socket->property("buffered").toByteArray() + socket->readAll();
    socket->setProperty("buffered", buffered);
    const int headerEnd = buffered.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;

    Request request;
    const QList<QByteArray> lines = buffered.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    int contentLength = 0;
    for (const QByteArray& line : lines.mid(1)) {
        const int colon = line.indexOf(':');
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length")
            contentLength = value.toInt();
        else if (name == "content-type")
            request.contentType = value;
    }
    if (buffered.size() < headerEnd + 4 + contentLength)
        return;
    request.body = buffered.mid(headerEnd + 4, contentLength);
    socket->setProperty("buffered", QByteArray());
    m_requests.append(request);
    emit requestReceived();

    if (m_silent)
        return;
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: " +
                  QByteArray::number(m_answer.size()) + "\r\n\r\n" + m_answer);
    socket->disconnectFromHost();
}

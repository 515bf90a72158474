#pragma once

#include <QHash>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// A tiny HTTP/1.1 server on loopback for image downloads: fixed bodies by path,
// 404 for anything else. It lives on the test's thread; the downloader's local
// event loop drives it.
class ImageServer : public QObject
{
    Q_OBJECT

public:
    ImageServer();
    bool start() { return m_server.listen(QHostAddress::LocalHost, 0); }
    QString url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }
    // status 0: the request is read and never answered. declaredLength >= 0 is
    // sent as Content-Length instead of the body's own.
    void serve(const QString& path, const QByteArray& body, int status = 200, qint64 declaredLength = -1)
    {
        m_routes.insert(path, Route{body, status, declaredLength});
    }

private:
    struct Route
    {
        QByteArray body;
        int status;
        qint64 declaredLength;
    };
    void answer(QTcpSocket* socket);

    QTcpServer m_server;
    QHash<QString, Route> m_routes;
};

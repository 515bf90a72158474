#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

// A tiny HTTP/1.1 server on loopback for image downloads: serves fixed bodies by
// path, 404 for anything else, and can hold a request without ever answering.
// It lives on the test's thread; the downloader's local event loop drives it.
class ImageServer : public QObject
{
    Q_OBJECT

public:
    ImageServer();
    bool start() { return m_server.listen(QHostAddress::LocalHost, 0); }
    QString url(const QString& path) const;

    // declaredLength >= 0 sends that Content-Length instead of the body's own.
    void serve(const QString& path, const QByteArray& body, int status = 200, qint64 declaredLength = -1);
    // Requests for this path are read and then left without an answer.
    void silence(const QString& path) { m_routes.insert(path, Route{{}, 0, -1}); }

private:
    struct Route
    {
        QByteArray body;
        int status = 200; // 0: never answer
        qint64 declaredLength = -1;
    };

    void answer(QTcpSocket* socket);

    QTcpServer m_server;
    QHash<QString, Route> m_routes;
};

#pragma once

#include <QByteArray>
#include <QList>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

// A loopback HTTP server that plays the maker's version service: it records
// each request and answers with a fixed body, or keeps silent.
class VersionServer : public QTcpServer
{
    Q_OBJECT

public:
    struct Request
    {
        QByteArray method;
        QByteArray path;
        QByteArray contentType;
        QByteArray body;
    };

    explicit VersionServer(QObject* parent = nullptr);

    // Starts listening on 127.0.0.1; the address to give the program.
    bool start();
    QUrl url() const;

    // The body of the next answers; with silent set, requests get no answer.
    void setAnswer(const QByteArray& body) { m_answer = body; }
    void setSilent(bool silent) { m_silent = silent; }

    QList<Request> requests() const { return m_requests; }

signals:
    void requestReceived();

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);

    QByteArray m_answer;
    bool m_silent = false;
    QList<Request> m_requests;
};

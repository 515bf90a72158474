#pragma once

#include <QByteArray>
#include <QSslSocket>
#include <QString>

// A small blocking HTTPS/1.1 client for the benchmarks: one keep-alive TLS
// connection, one request at a time, answers read by Content-Length. Needs a
// QCoreApplication; loopback only.
class BenchClient
{
public:
    struct Response
    {
        int status = 0; // 0: no complete answer
        QByteArray head;
        QByteArray body;
    };

    explicit BenchClient(quint16 port, int timeoutMs = 10000);

    // TLS handshake; false when nothing listens or the handshake fails.
    bool connectToServer();
    bool isConnected() const;
    void disconnectFromServer();

    // Sends one request and waits for its whole answer. headers holds extra
    // header lines, each ending in "\r\n".
    Response request(const QByteArray& method, const QByteArray& path, const QByteArray& headers = {},
                     const QByteArray& body = {});
    Response getStatus(const QByteArray& key);
    Response postJson(const QByteArray& path, const QByteArray& key, const QByteArray& json);

    QString errorString() const { return m_error; }

private:
    bool readResponse(Response& response);

    quint16 m_port;
    int m_timeoutMs;
    QSslSocket m_socket;
    QByteArray m_buffer;
    QString m_error;
};

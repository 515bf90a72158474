#include "BenchClient.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>

BenchClient::BenchClient(quint16 port, int timeoutMs)
    : m_port(port)
    , m_timeoutMs(timeoutMs)
{
    // The benchmark measures the server, not certificate checks: the peer is
    // our own program on loopback.
    m_socket.setPeerVerifyMode(QSslSocket::VerifyNone);
}

bool BenchClient::connectToServer()
{
    m_buffer.clear();
    m_socket.abort();
    m_socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_port);
    if (!m_socket.waitForEncrypted(m_timeoutMs)) {
        m_error = m_socket.errorString();
        m_socket.abort();
        return false;
    }
    return true;
}

bool BenchClient::isConnected() const
{
    return m_socket.state() == QAbstractSocket::ConnectedState && m_socket.isEncrypted();
}

void BenchClient::disconnectFromServer()
{
    m_socket.disconnectFromHost();
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.waitForDisconnected(1000);
    m_socket.abort();
    m_buffer.clear();
}

BenchClient::Response BenchClient::request(const QByteArray& method, const QByteArray& path, const QByteArray& headers,
                                           const QByteArray& body)
{
    Response response;
    if (!isConnected() && !connectToServer())
        return response;
    QByteArray message =
        method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(m_port) + "\r\n" + headers;
    if (!body.isEmpty() || method == "POST")
        message += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    message += "\r\n" + body;
    m_socket.write(message);
    if (!readResponse(response))
        m_socket.abort();
    return response;
}

BenchClient::Response BenchClient::getStatus(const QByteArray& key)
{
    return request("GET", "/getStatus", "Authorization: Bearer " + key + "\r\n");
}

BenchClient::Response BenchClient::postJson(const QByteArray& path, const QByteArray& key, const QByteArray& json)
{
    return request("POST", path, "Authorization: Bearer " + key + "\r\nContent-Type: application/json\r\n", json);
}

bool BenchClient::readResponse(Response& response)
{
    const QDeadlineTimer deadline(m_timeoutMs);
    auto fill = [&]() {
        if (m_socket.bytesAvailable() == 0 && !m_socket.waitForReadyRead(int(deadline.remainingTime()))) {
            m_error = QStringLiteral("no answer: %1").arg(m_socket.errorString());
            return false;
        }
        m_buffer += m_socket.readAll();
        return true;
    };

    int headEnd;
    while ((headEnd = m_buffer.indexOf("\r\n\r\n")) < 0) {
        if (!fill())
            return false;
    }
    response.head = m_buffer.left(headEnd + 2);
    m_buffer.remove(0, headEnd + 4);

    const QList<QByteArray> lines = response.head.split('\n');
    const QList<QByteArray> statusLine = lines.first().split(' ');
    const int status = statusLine.size() > 1 ? statusLine.at(1).toInt() : 0;
    qint64 length = -1;
    for (const QByteArray& line : lines) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length")
            length = line.mid(colon + 1).trimmed().toLongLong();
    }
    if (length < 0) {
        m_error = QStringLiteral("answer without Content-Length");
        return false;
    }
    while (m_buffer.size() < length) {
        if (!fill())
            return false;
    }
    response.body = m_buffer.left(int(length));
    m_buffer.remove(0, int(length));
    response.status = status;
    return true;
}

#include "http/HttpResponseWriter.h"

#include <QDeadlineTimer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QThread>
#include <QtDebug>

namespace {
// More unsent bytes than this and the writer waits for the peer: a large body
// written in parts is not buffered whole in memory.
constexpr qint64 kMaxPendingOutput = 16384;
constexpr int kWaitStepMs = 50;
} // namespace

HttpResponseWriter::HttpResponseWriter(QTcpSocket* socket, int writeTimeout)
    : m_socket(socket)
    , m_writeTimeout(writeTimeout)
{}

void HttpResponseWriter::setHeader(const QByteArray& name, const QByteArray& value)
{
    m_headers.insert(name, value);
}

void HttpResponseWriter::setHeader(const QByteArray& name, int value)
{
    m_headers.insert(name, QByteArray::number(value));
}

void HttpResponseWriter::setStatus(int statusCode, const QByteArray& description)
{
    m_statusCode = statusCode;
    m_statusText = description;
}

void HttpResponseWriter::write(const QByteArray& data, bool lastPart)
{
    if (m_sentLastPart) {
        qWarning("HttpResponseWriter: write after the last part ignored");
        return;
    }
    if (!m_sentHeaders) {
        if (lastPart) {
            setHeader("Content-Length", QByteArray::number(data.size()));
        } else {
            const QByteArray connection = m_headers.value("Connection", m_headers.value("connection"));
            if (connection.toLower() != "close") {
                setHeader("Transfer-Encoding", "chunked");
                m_chunkedMode = true;
            }
        }
        writeHeaders();
    }

    if (!data.isEmpty()) {
        if (m_chunkedMode) {
            writeToSocket(QByteArray::number(data.size(), 16) + "\r\n");
            writeToSocket(data);
            writeToSocket("\r\n");
        } else {
            writeToSocket(data);
        }
    }

    if (lastPart) {
        if (m_chunkedMode)
            writeToSocket("0\r\n\r\n");
        // No flush here: the socket sends what is left as soon as this thread's
        // event loop runs again, which is after the request handler has let go of
        // its lock. Encrypting and sending under the lock held every other
        // connection back (some 15 % of the throughput of small answers).
        m_sentLastPart = true;
    }
}

void HttpResponseWriter::redirect(const QByteArray& url)
{
    setStatus(303, "See Other");
    setHeader("Location", url);
    write("Redirect", true);
}

void HttpResponseWriter::setCookie(const HttpCookie& cookie)
{
    if (!cookie.getName().isEmpty())
        m_cookies.insert(cookie.getName(), cookie);
}

void HttpResponseWriter::flush()
{
    m_socket->flush();
}

bool HttpResponseWriter::isConnected() const
{
    return m_socket->isOpen();
}

void HttpResponseWriter::writeHeaders()
{
    QByteArray buffer;
    buffer.append("HTTP/1.1 ").append(QByteArray::number(m_statusCode)).append(' ').append(m_statusText).append("\r\n");
    for (auto it = m_headers.cbegin(); it != m_headers.cend(); ++it)
        buffer.append(it.key()).append(": ").append(it.value()).append("\r\n");
    for (const HttpCookie& cookie : qAsConst(m_cookies))
        buffer.append("Set-Cookie: ").append(cookie.toByteArray()).append("\r\n");
    buffer.append("\r\n");
    writeToSocket(buffer);
    m_sentHeaders = true;
}

bool HttpResponseWriter::writeToSocket(const QByteArray& data)
{
    qint64 done = 0;
    while (done < data.size() && m_socket->isOpen()) {
        if (pendingOutput(m_socket) > kMaxPendingOutput) {
            if (!waitForPeer(m_socket, m_writeTimeout, kMaxPendingOutput))
                return false;
            continue;
        }
        const qint64 written = m_socket->write(data.constData() + done, data.size() - done);
        if (written < 0)
            return false;
        done += written;
    }
    return true;
}

qint64 HttpResponseWriter::pendingOutput(QTcpSocket* socket)
{
    qint64 pending = socket->bytesToWrite();
    if (const auto* sslSocket = qobject_cast<const QSslSocket*>(socket))
        pending += sslSocket->encryptedBytesToWrite();
    return pending;
}

bool HttpResponseWriter::waitForPeer(QTcpSocket* socket, int timeoutMs, qint64 pendingAtMost)
{
    // Short steps, so that a server being switched off (an interruption request
    // to this thread) does not wait out a peer that takes nothing.
    QDeadlineTimer idle(timeoutMs);
    while (socket->isOpen() && pendingOutput(socket) > pendingAtMost) {
        if (QThread::currentThread()->isInterruptionRequested()) {
            socket->abort();
            return false;
        }
        if (socket->waitForBytesWritten(int(qBound<qint64>(1, idle.remainingTime(), kWaitStepMs)))) {
            idle.setRemainingTime(timeoutMs); // the peer took some: it is not idle
            continue;
        }
        if (!socket->isOpen() || pendingOutput(socket) <= pendingAtMost)
            break;
        if (idle.hasExpired() || socket->state() != QAbstractSocket::ConnectedState) {
            qWarning("HttpResponseWriter: peer takes no data, connection aborted");
            socket->abort();
            return false;
        }
    }
    return true;
}

bool HttpResponseWriter::drain(QTcpSocket* socket, int timeoutMs)
{
    if (!socket->isOpen() || socket->state() != QAbstractSocket::ConnectedState)
        return true;
    return waitForPeer(socket, timeoutMs, 0);
}

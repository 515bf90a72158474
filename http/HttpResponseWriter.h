#pragma once

#include "http/HttpCookie.h"

#include <QByteArray>
#include <QMap>

class QTcpSocket;

// Turns a handler's answer (status, headers, cookies, body) into HTTP/1.1 bytes
// on the connection's socket: Content-Length when the whole body comes in one
// last write, chunked transfer otherwise (unless the connection will close).
// Lives for one request; does not own the socket.
class HttpResponseWriter
{
public:
    // writeTimeout bounds each wait for the peer to take bytes: a peer that
    // reads nothing for that long is disconnected instead of holding the thread.
    explicit HttpResponseWriter(QTcpSocket* socket, int writeTimeout = 10000);

    void setHeader(const QByteArray& name, const QByteArray& value);
    void setHeader(const QByteArray& name, int value);
    QMap<QByteArray, QByteArray>& headers() { return m_headers; }

    void setStatus(int statusCode, const QByteArray& description = QByteArray());
    int statusCode() const { return m_statusCode; }

    void write(const QByteArray& data, bool lastPart = false);
    bool hasSentLastPart() const { return m_sentLastPart; }
    void redirect(const QByteArray& url);

    void setCookie(const HttpCookie& cookie);
    QMap<QByteArray, HttpCookie>& cookies() { return m_cookies; }

    void flush();
    bool isConnected() const;

    // Output the socket still holds, TLS records included.
    static qint64 pendingOutput(QTcpSocket* socket);
    // Waits until the socket has no output left or, when the peer takes nothing
    // for timeoutMs, aborts the connection. True when everything went out.
    static bool drain(QTcpSocket* socket, int timeoutMs);

private:
    // Waits until the socket holds at most pendingAtMost bytes of output. Aborts
    // the connection (false) when the peer takes nothing for timeoutMs or when
    // the calling thread is asked to stop (QThread::requestInterruption).
    static bool waitForPeer(QTcpSocket* socket, int timeoutMs, qint64 pendingAtMost);

    void writeHeaders();
    bool writeToSocket(const QByteArray& data);

    QMap<QByteArray, QByteArray> m_headers;
    QTcpSocket* m_socket;
    int m_statusCode = 200;
    QByteArray m_statusText = "OK";
    bool m_sentHeaders = false;
    bool m_sentLastPart = false;
    bool m_chunkedMode = false;
    QMap<QByteArray, HttpCookie> m_cookies;
    int m_writeTimeout;
};

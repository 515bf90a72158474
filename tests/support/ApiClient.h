#pragma once

#include "HttpTestRig.h"

#include <thread>

using ApiReply = HttpTestResponse;
using ApiHeaders = QList<QPair<QByteArray, QByteArray>>;

// HTTPS to the API on loopback, one request per connection, from the given local address (any of 127.0.0.0/8)
// or the system's choice. The exchange runs on a thread of its own: a server on the caller's thread keeps serving.
class ApiClient
{
public:
    explicit ApiClient(quint16 port, const QHostAddress& source = QHostAddress())
        : m_port(port)
        , m_source(source)
    {}
    ApiReply request(const QByteArray& method, const QByteArray& target, const ApiHeaders& headers = {},
                     const QByteArray& body = QByteArray()) const
    {
        QByteArray wire = method + ' ' + target + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n";
        for (const auto& header : headers)
            wire += header.first + ": " + header.second + "\r\n";
        if (!body.isEmpty() || method == "POST")
            wire += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        ApiReply reply;
        QEventLoop loop;
        std::thread exchange([&] {
            HttpTestClient client(true);
            if (!m_source.isNull())
                client.socket().bind(m_source);
            if (client.connectTo(m_port) && client.send(wire + "\r\n" + body))
                reply = client.readResponse(30000);
            // By name: a queued functor's captures would be data handed over inside Qt, unseen by TSan.
            QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
        });
        loop.exec();
        exchange.join();
        return reply;
    }
    ApiReply get(const QByteArray& target, const ApiHeaders& headers = {}) const
    {
        return request("GET", target, headers);
    }
    ApiReply postJson(const QByteArray& target, const QByteArray& body, const ApiHeaders& headers = {}) const
    {
        return request("POST", target, headers + ApiHeaders{{"Content-Type", "application/json"}}, body);
    }
    ApiReply postJson(const QByteArray& target, const QJsonObject& body, const ApiHeaders& headers = {}) const
    {
        return postJson(target, QJsonDocument(body).toJson(QJsonDocument::Compact), headers);
    }

private:
    quint16 m_port;
    QHostAddress m_source;
};

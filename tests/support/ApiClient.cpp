#include "ApiClient.h"
#include "HttpTestRig.h"

#include <QEventLoop>
#include <QJsonDocument>

#include <thread>

QJsonObject ApiReply::json() const
{
    return QJsonDocument::fromJson(body).object();
}

ApiReply ApiClient::request(const QByteArray& method, const QByteArray& target, const ApiHeaders& headers,
                            const QByteArray& body) const
{
    QByteArray wire = method + ' ' + target + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n";
    for (const auto& header : headers)
        wire += header.first + ": " + header.second + "\r\n";
    if (!body.isEmpty() || method == "POST")
        wire += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    wire += "\r\n" + body;

    // The blocking client talks on a thread of its own; a server here keeps serving.
    ApiReply reply;
    QEventLoop loop;
    std::thread exchange([&] {
        HttpTestClient client(true);
        HttpTestResponse response;
        if (!m_source.isNull())
            client.socket().bind(m_source);
        if (client.connectTo(m_port) && client.send(wire))
            response = client.readResponse(30000);
        reply.status = response.complete ? response.status : 0;
        reply.headers = response.headers;
        reply.body = response.body;
        reply.error = response.complete ? QString() : QStringLiteral("no answer: ") + client.socket().errorString();
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec();
    exchange.join();
    return reply;
}

ApiReply ApiClient::postJson(const QByteArray& target, const QJsonObject& body, const ApiHeaders& headers) const
{
    return postJson(target, QJsonDocument(body).toJson(QJsonDocument::Compact), headers);
}

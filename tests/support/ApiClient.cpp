#include "ApiClient.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

namespace {

// Parses what has arrived; true once the answer is complete.
bool parse(const QByteArray& data, bool closed, ApiReply& reply)
{
    const int end = data.indexOf("\r\n\r\n");
    if (end < 0)
        return false;
    const QList<QByteArray> lines = data.left(end).split('\n');
    const QList<QByteArray> statusLine = lines.first().trimmed().split(' ');
    reply.status = statusLine.value(1).toInt();
    reply.reason = QString::fromLatin1(lines.first().trimmed()).section(QLatin1Char(' '), 2).toLatin1();
    reply.headers.clear();
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines.at(i).indexOf(':');
        if (colon > 0)
            reply.headers.insert(lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
    }
    reply.body = data.mid(end + 4);
    if (reply.headers.contains("content-length"))
        return reply.body.size() >= reply.headers.value("content-length").toInt();
    return closed;
}

} // namespace

QJsonObject ApiReply::json() const
{
    return QJsonDocument::fromJson(body).object();
}

ApiClient::ApiClient(quint16 port)
    : m_port(port)
{}

QList<QSslCertificate> ApiClient::serverCertificates()
{
    QFile file(qEnvironmentVariable("QLK_BUILD_DIR") + QStringLiteral("/ssl/qlk.cert"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QSslCertificate::fromData(file.readAll(), QSsl::Pem);
}

ApiReply ApiClient::request(const QByteArray& method, const QByteArray& target, const ApiHeaders& headers,
                            const QByteArray& body, int timeoutMs) const
{
    ApiReply reply;
    QByteArray wire = method + ' ' + target + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n";
    for (const auto& header : headers)
        wire += header.first + ": " + header.second + "\r\n";
    if (!body.isEmpty() || method == "POST")
        wire += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    wire += "\r\n" + body;

    QSslSocket socket;
    QSslConfiguration configuration = socket.sslConfiguration();
    configuration.setCaCertificates(serverCertificates());
    socket.setSslConfiguration(configuration);

    QEventLoop loop;
    QByteArray received;
    bool done = false;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        reply.error = QStringLiteral("no complete answer within %1 ms").arg(timeoutMs);
        loop.quit();
    });
    QObject::connect(&socket, &QSslSocket::encrypted, &loop, [&] { socket.write(wire); });
    QObject::connect(&socket, &QSslSocket::readyRead, &loop, [&] {
        received += socket.readAll();
        if (parse(received, false, reply)) {
            done = true;
            loop.quit();
        }
    });
    QObject::connect(&socket, &QSslSocket::disconnected, &loop, [&] {
        received += socket.readAll();
        done = parse(received, true, reply);
        if (!done)
            reply.error = QStringLiteral("connection closed before a complete answer");
        loop.quit();
    });
    QObject::connect(&socket, QOverload<const QList<QSslError>&>::of(&QSslSocket::sslErrors), &loop,
                     [&](const QList<QSslError>& errors) {
                         reply.error = errors.value(0).errorString();
                         loop.quit();
                     });
    socket.connectToHostEncrypted(QStringLiteral("localhost"), m_port);
    timer.start(timeoutMs);
    loop.exec();
    socket.abort();
    if (!done) {
        reply.status = 0;
        if (reply.error.isEmpty())
            reply.error = socket.errorString();
    }
    return reply;
}

ApiReply ApiClient::get(const QByteArray& target, const ApiHeaders& headers) const
{
    return request("GET", target, headers);
}

ApiReply ApiClient::postJson(const QByteArray& target, const QByteArray& body, const ApiHeaders& headers) const
{
    ApiHeaders all = headers;
    all.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/json")));
    return request("POST", target, all, body);
}

ApiReply ApiClient::postJson(const QByteArray& target, const QJsonObject& body, const ApiHeaders& headers) const
{
    return postJson(target, QJsonDocument(body).toJson(QJsonDocument::Compact), headers);
}

ApiReply ApiClient::postForm(const QByteArray& target, const QByteArray& body, const ApiHeaders& headers) const
{
    ApiHeaders all = headers;
    all.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/x-www-form-urlencoded")));
    return request("POST", target, all, body);
}

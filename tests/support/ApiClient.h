#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QPair>

// One HTTP answer as the client saw it on the wire.
struct ApiReply
{
    int status = 0;                       // 0: no complete answer
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
    QString error;

    QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
    QJsonObject json() const; // empty when the body is not a JSON object
};

using ApiHeaders = QList<QPair<QByteArray, QByteArray>>;

// HTTPS to the API on loopback, one request per connection; a server on the
// caller's thread keeps serving meanwhile.
class ApiClient
{
public:
    // From the given local address (any of 127.0.0.0/8), else the system's choice.
    explicit ApiClient(quint16 port, const QHostAddress& source = QHostAddress())
        : m_port(port)
        , m_source(source)
    {}
    ApiReply request(const QByteArray& method, const QByteArray& target, const ApiHeaders& headers = {},
                     const QByteArray& body = QByteArray()) const;
    ApiReply get(const QByteArray& target, const ApiHeaders& headers = {}) const
    {
        return request("GET", target, headers);
    }
    ApiReply postJson(const QByteArray& target, const QByteArray& body, const ApiHeaders& headers = {}) const
    {
        return request("POST", target, headers + ApiHeaders{{"Content-Type", "application/json"}}, body);
    }
    ApiReply postJson(const QByteArray& target, const QJsonObject& body, const ApiHeaders& headers = {}) const;

private:
    quint16 m_port;
    QHostAddress m_source;
};

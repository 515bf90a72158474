#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSslCertificate>

// One HTTP answer as the client saw it on the wire.
struct ApiReply
{
    int status = 0;
    QByteArray reason;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
    QString error; // why no answer came, when status is 0

    QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
    // The body as a JSON object; empty when it is not one.
    QJsonObject json() const;
};

using ApiHeaders = QList<QPair<QByteArray, QByteArray>>;

// A small HTTPS client for the API tests: one request per TLS connection,
// verified against the build's certificate. It waits on a local event loop, so
// a server living on the caller's thread keeps accepting meanwhile.
class ApiClient
{
public:
    explicit ApiClient(quint16 port);

    ApiReply request(const QByteArray& method, const QByteArray& target, const ApiHeaders& headers = {},
                     const QByteArray& body = QByteArray(), int timeoutMs = 30000) const;

    ApiReply get(const QByteArray& target, const ApiHeaders& headers = {}) const;
    ApiReply postJson(const QByteArray& target, const QByteArray& body, const ApiHeaders& headers = {}) const;
    ApiReply postJson(const QByteArray& target, const QJsonObject& body, const ApiHeaders& headers = {}) const;
    ApiReply postForm(const QByteArray& target, const QByteArray& body, const ApiHeaders& headers = {}) const;

    // The certificate that the build generated for the server.
    static QList<QSslCertificate> serverCertificates();

private:
    quint16 m_port;
};

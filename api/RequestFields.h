#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

class HttpRequest;

// What the web API takes from one request before routing it. The fields come
// from the query string or a form body (parameter mode) or from a JSON body
// (JSON mode), chosen by the content type.
struct RequestFields
{
    QString token;
    QString printer;
    QString tpa_port;
    QString terminal_tpa_id;
    QString tpa_id;
    QString datetime;
    QString amount;
    bool with_notifications = false;
    QJsonObject body;
    bool jsonMode = false;
    // Set when the content type announced JSON and the body did not parse.
    bool invalidJson = false;

    static RequestFields extract(const HttpRequest& request);

    // The key given as "Bearer KEY" with exactly one space; anything else is no key.
    static QString bearerToken(const QString& authorization);

    // Header and parameter values become text up to their first NUL byte.
    static QString text(const QByteArray& bytes);

    // A JSON member as text: only a JSON string counts, anything else is empty.
    static QString memberText(const QJsonObject& object, const QString& key);
};

#include "api/RequestFields.h"

#include "app/SafeJson.h"
#include "http/HttpRequest.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QStringList>

#include <cmath>

namespace {

// A JSON number that is a whole number above zero; booleans, strings and
// fractions do not turn the flag on.
bool positiveWholeNumber(const QJsonValue& value)
{
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    return std::isfinite(number) && std::floor(number) == number && number > 0;
}

} // namespace

QString RequestFields::text(const QByteArray& bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? bytes : bytes.left(nul));
}

QString RequestFields::memberText(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : QString();
}

QString RequestFields::bearerToken(const QString& authorization)
{
    if (authorization.isEmpty() || !authorization.contains(QLatin1String("Bearer")))
        return QString();
    const QStringList pieces = authorization.split(QLatin1Char(' '), Qt::KeepEmptyParts);
    return pieces.size() == 2 ? pieces.at(1) : QString();
}

RequestFields RequestFields::extract(const HttpRequest& request)
{
    RequestFields fields;
    fields.token = bearerToken(text(request.header("Authorization")));

    const QString contentType = text(request.header("Content-Type"));
    if (contentType.isEmpty() || !contentType.contains(QLatin1String("application/json"))) {
        if (fields.token.isEmpty())
            fields.token = text(request.parameter("securityKey"));
        fields.printer = text(request.parameter("printer"));
        fields.tpa_port = text(request.parameter("tpa_port"));
        fields.terminal_tpa_id = text(request.parameter("terminal_tpa_id"));
        fields.tpa_id = text(request.parameter("tpa_id"));
        fields.datetime = text(request.parameter("datetime"));
        fields.amount = text(request.parameter("amount"));
        fields.with_notifications = text(request.parameter("with_notifications")).toInt() > 0;
        return fields;
    }

    fields.jsonMode = true;
    const QByteArray body = request.body();
    // A repeated key counts as malformed: Qt's parser would leak it.
    const QJsonDocument document = SafeJson::parse(body);
    if (document.isNull() && !body.isEmpty()) {
        fields.invalidJson = true;
        return fields;
    }
    fields.body = document.object();
    if (fields.token.isEmpty())
        fields.token = memberText(fields.body, QStringLiteral("securityKey"));
    fields.printer = memberText(fields.body, QStringLiteral("printer"));
    fields.tpa_port = memberText(fields.body, QStringLiteral("tpa_port"));
    fields.terminal_tpa_id = memberText(fields.body, QStringLiteral("terminal_tpa_id"));
    fields.tpa_id = memberText(fields.body, QStringLiteral("tpa_id"));
    fields.datetime = memberText(fields.body, QStringLiteral("datetime"));
    fields.amount = memberText(fields.body, QStringLiteral("amount"));
    fields.with_notifications = positiveWholeNumber(fields.body.value(QStringLiteral("with_notifications")));
    return fields;
}

#include "core/VersionCheck.h"

#include "app/SafeJson.h"

#include <QJsonObject>
#include <QNetworkReply>
#include <QUrlQuery>

QUrl VersionCheck::serviceUrl()
{
    const QString overridden = qEnvironmentVariable("QUORVA_LINK_VERSION_URL");
    if (!overridden.isEmpty())
        return QUrl(overridden);
    return QUrl(QStringLiteral("https://updates.quorva.pt/hasNewVersion"));
}

QNetworkRequest VersionCheck::request()
{
    QNetworkRequest request(serviceUrl());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    return request;
}

QByteArray VersionCheck::body(const QString& curVersion)
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("cur"), curVersion);
    return query.query(QUrl::FullyEncoded).toUtf8();
}

void VersionCheck::limitAnswer(QNetworkReply* reply)
{
    // Held to one byte over the limit, so that a larger answer is seen without being kept.
    reply->setReadBufferSize(maxAnswerBytes + 1);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply] {
        if (reply->bytesAvailable() > maxAnswerBytes)
            reply->abort();
    });
}

bool VersionCheck::announcesNewVersion(const QByteArray& answer)
{
    const QJsonDocument document = SafeJson::parse(answer);
    return document.isObject() && document.object().value(QStringLiteral("hasNewVersion")) == QJsonValue(true);
}

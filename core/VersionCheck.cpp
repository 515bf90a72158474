#include "core/VersionCheck.h"

#include <QJsonDocument>
#include <QJsonObject>
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

bool VersionCheck::announcesNewVersion(const QByteArray& answer)
{
    const QJsonDocument document = QJsonDocument::fromJson(answer);
    return document.isObject() && document.object().value(QStringLiteral("hasNewVersion")) == QJsonValue(true);
}

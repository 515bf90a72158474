#include "api/OriginGate.h"

#include "api/RequestFields.h"
#include "api/WebAppOrigin.h"
#include "http/HttpResponseWriter.h"

#include <QJsonDocument>
#include <QJsonObject>

bool OriginGate::admits(const QList<QByteArray>& origins, const QList<QByteArray>& fetchSites)
{
    // A header that is present but empty, or a second one, names no allowed origin.
    if (!origins.isEmpty())
        return origins.size() == 1 && WebAppOrigin::isAllowed(RequestFields::text(origins.first()));
    if (fetchSites.isEmpty())
        return true;
    const QByteArray site = fetchSites.size() == 1 ? fetchSites.first().trimmed() : QByteArray();
    return site == "none" || site == "same-origin";
}

void OriginGate::refuse(HttpResponseWriter& response)
{
    const QJsonObject result{{QStringLiteral("status"), false},
                             {QStringLiteral("error"), QStringLiteral("Origin not allowed")}};
    response.setStatus(403, "Forbidden");
    response.setHeader("Vary", "Origin");
    response.setHeader("Content-Type", "application/json; charset=UTF-8");
    response.write(QJsonDocument(result).toJson(QJsonDocument::Indented), true);
}

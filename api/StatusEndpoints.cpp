#include "api/StatusEndpoints.h"

#include "api/NotificationEndpoints.h"
#include "api/WebAppOrigin.h"
#include "core/PrintClient.h"

#include <QJsonArray>

StatusEndpoints::StatusEndpoints(PrintClient* printClient)
    : m_printClient(printClient)
{}

QByteArray StatusEndpoints::statusPage()
{
    return QStringLiteral("<html lang=\"pt\"><head><title>Quorva Link</title><meta charset=\"utf-8\" />"
                          "<style>body { font-family: Helvetica, Verdana, Arial, sans-serif; }</style></head>"
                          "<body><h1>Quorva LINK</h1><p>Para mais informações sobre a configuração de impressoras "
                          "de talões no Quorva, consulte <a href=\"%1\">a documentação <em>online</em></a>.</p>"
                          "</body></html>")
        .arg(WebAppOrigin::helpArticle())
        .toUtf8();
}

void StatusEndpoints::getStatus(QJsonObject& result, bool withNotifications) const
{
    if (withNotifications)
        result.insert(QStringLiteral("notifications"), NotificationEndpoints(m_printClient).currentNotifications());
    result.insert(QStringLiteral("status"), true);
    result.insert(QStringLiteral("data"), QStringLiteral("Device online"));
}

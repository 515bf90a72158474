#include "api/NotificationEndpoints.h"

#include "api/RequestFields.h"
#include "core/Notification.h"
#include "core/PrintClient.h"
#include "http/HttpRequest.h"

NotificationEndpoints::NotificationEndpoints(PrintClient* printClient)
    : m_printClient(printClient)
{}

QJsonObject NotificationEndpoints::fromParameters(const HttpRequest& request)
{
    QJsonObject notification;
    for (const char* key : {"request_id", "terminal_id", "status_id"})
        notification.insert(QLatin1String(key), RequestFields::text(request.parameter(key)).toInt());
    for (const char* key : {"title", "subtitle", "lastModifiedBy", "date"})
        notification.insert(QLatin1String(key), RequestFields::text(request.parameter(key)));
    return notification;
}

void NotificationEndpoints::setNotificationOrder(QJsonObject& result, const QJsonObject& notification) const
{
    Notification* record = notification.isEmpty() || !m_printClient ? nullptr : Notification::fromJson(notification);
    if (!record) {
        result.insert(QStringLiteral("status"), false);
        result.insert(QStringLiteral("data"), QStringLiteral("Error receiving notification"));
        return;
    }
    m_printClient->addNotification(record);
    result.insert(QStringLiteral("status"), true);
    result.insert(QStringLiteral("data"), QStringLiteral("Notification received"));
}

QJsonArray NotificationEndpoints::currentNotifications() const
{
    QJsonArray list;
    if (!m_printClient)
        return list;
    for (const auto& record : m_printClient->notifications())
        list.append(record->toJson());
    return list;
}

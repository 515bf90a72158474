#pragma once

#include <QJsonArray>
#include <QJsonObject>

class HttpRequest;
class PrintClient;

// /setNotificationOrder and the notification list that /getStatus returns.
class NotificationEndpoints
{
public:
    explicit NotificationEndpoints(PrintClient* printClient);

    // The notification record of parameter mode: the three identifiers as
    // integers (0 when absent or not a number) and the four texts, always all seven.
    static QJsonObject fromParameters(const HttpRequest& request);

    void setNotificationOrder(QJsonObject& result, const QJsonObject& notification) const;

    // The records held now, oldest first, in their JSON form.
    QJsonArray currentNotifications() const;

private:
    PrintClient* m_printClient;
};

#pragma once

#include <QByteArray>
#include <QJsonObject>

class PrintClient;

// The root status page and /getStatus, the web application's heartbeat.
class StatusEndpoints
{
public:
    explicit StatusEndpoints(PrintClient* printClient);

    // The HTML page on "/": the product's name and a link to the help article.
    static QByteArray statusPage();

    void getStatus(QJsonObject& result, bool withNotifications) const;

private:
    PrintClient* m_printClient;
};

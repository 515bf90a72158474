#pragma once

#include "ImageServer.h"

// Serves pages set by the test to a browser on http://localhost:PORT, on both loopback families (a browser may
// resolve localhost to either; 127.0.0.1 is another origin). Runs on its thread's event loop (HeadlessBrowser runs it).
class PageServer : public QObject, private ImageServer
{
public:
    PageServer() { start(); }
    QString url(const QString& path, const QString& host = QStringLiteral("localhost")) const
    {
        return QStringLiteral("http://%1:%2%3").arg(host).arg(m_server.serverPort()).arg(path);
    }
    void setPage(const QString& path, const QByteArray& content, const QByteArray& type = "text/html; charset=utf-8")
    {
        m_routes.insert(path, {content, 200, -1, type});
    }
};

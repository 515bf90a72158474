#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTcpServer>

// Serves pages to a browser on http://localhost:PORT (loopback only): files of
// a folder, and pages set by the test, which win over files of the same path.
// Runs on the thread that made it, so that thread must run its event loop while
// a browser loads (HeadlessBrowser does).
class PageServer : public QObject
{
public:
    explicit PageServer(const QString& folder = QString());

    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }
    // "http://localhost:PORT" + path; host 127.0.0.1 gives the page another origin.
    QString url(const QString& path, const QString& host = QStringLiteral("localhost")) const;

    void setPage(const QString& path, const QByteArray& content, const QByteArray& type = "text/html; charset=utf-8");

private:
    void serve(QTcpSocket* socket);

    QString m_folder;
    QHash<QString, QPair<QByteArray, QByteArray>> m_pages;
    QTcpServer m_server;
    QTcpServer m_serverV6;
};

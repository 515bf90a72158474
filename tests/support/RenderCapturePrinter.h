#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpServer>

// A real CUPS raw queue whose device is a loopback listener of the test: every
// job the queue prints arrives here as its raw bytes. Removed on destruction.
class RenderCapturePrinter : public QObject
{
    Q_OBJECT

public:
    explicit RenderCapturePrinter(const QString& name, QObject* parent = nullptr);
    ~RenderCapturePrinter() override;

    // Empty when the queue is ready; otherwise why it could not be made.
    QString create();
    bool disable();
    QString name() const { return m_name; }
    QByteArray received() const { return m_received; }
    int connections() const { return m_connections; }

private:
    static bool run(const QString& program, const QStringList& arguments);

    QString m_name;
    QTcpServer m_server;
    QByteArray m_received;
    int m_connections = 0;
    bool m_created = false;
};

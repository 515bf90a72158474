#pragma once

#include <QProcess>
#include <QTemporaryDir>

// A CUPS scheduler of the test's own, on a loopback port and a temporary configuration, that the test may stop
// and start again without touching the machine's. start() points this process and its children (CUPS_SERVER) at it.
class PrivateScheduler
{
public:
    ~PrivateScheduler() { stop(); }

    bool start(); // cupsd in the foreground as a child, until it answers
    void stop();
    QString errorString() const { return m_error; }
    // Empty when a private scheduler can run here (cupsd installed, root), else why not.
    static QString problem();

private:
    QString server() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

    QTemporaryDir m_dir;
    QProcess m_cupsd;
    quint16 m_port = 0;
    QString m_error;
};

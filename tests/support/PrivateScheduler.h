#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A CUPS scheduler of the test's own, on a loopback port and a temporary
// configuration, that the test may stop and start again without touching the
// machine's scheduler. start() points this process (CUPS_SERVER), and every
// program it starts afterwards, at it.
class PrivateScheduler
{
public:
    PrivateScheduler();
    ~PrivateScheduler();
    PrivateScheduler(const PrivateScheduler&) = delete;
    PrivateScheduler& operator=(const PrivateScheduler&) = delete;

    // Starts cupsd in the foreground as a child and waits until it answers.
    bool start();
    // Ends the child cupsd and waits for it.
    void stop();
    bool isRunning() const;
    QString errorString() const { return m_error; }
    QString server() const;

    // Empty when a private scheduler can run here (cupsd installed, root), else why not.
    static QString problem();

private:
    bool writeConfiguration();

    QTemporaryDir m_dir;
    QProcess m_cupsd;
    quint16 m_port = 0;
    QString m_error;
};

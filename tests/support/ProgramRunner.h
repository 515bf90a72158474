#pragma once

#include <QDir>
#include <QProcess>

// Starts the real quorva-link program (path from QLK_PROGRAM) on settings of
// its own, headless.
class ProgramRunner
{
public:
    explicit ProgramRunner(const QString& configHome)
        : m_configHome(configHome)
    {
        m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    ~ProgramRunner() { stop(1000); }

    QProcessEnvironment& environment() { return m_environment; }
    QProcess& process() { return m_process; }
    static QString programPath() { return qEnvironmentVariable("QLK_PROGRAM"); }
    // The settings file the program reads (QSettings native format on Linux).
    QString settingsFile() const { return QDir(m_configHome).filePath(QStringLiteral("Quorva/QuorvaLink.conf")); }

    void start(const QStringList& arguments = {})
    {
        m_process.setProcessEnvironment(m_environment);
        m_process.start(programPath(), arguments);
        m_process.waitForStarted(5000);
    }

    // Ends the program if it still runs; returns whether it had to be killed.
    bool stop(int graceMs = 3000)
    {
        if (m_process.state() == QProcess::NotRunning)
            return false;
        m_process.terminate();
        if (m_process.waitForFinished(graceMs))
            return false;
        m_process.kill();
        m_process.waitForFinished(graceMs);
        return true;
    }

private:
    QString m_configHome;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
    QProcess m_process;
};

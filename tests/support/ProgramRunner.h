#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Starts the real quorva-link program (path from QLK_PROGRAM) on settings of
// its own, headless unless asked otherwise.
class ProgramRunner
{
public:
    explicit ProgramRunner(const QString& configHome);
    ~ProgramRunner();

    QProcessEnvironment& environment() { return m_environment; }
    QProcess& process() { return m_process; }

    void start(const QStringList& arguments = {});
    // Ends the program if it still runs; returns whether it had to be killed.
    bool stop(int graceMs = 3000);

    // The settings file the program reads (QSettings native format on Linux).
    QString settingsFile() const;

    static QString programPath();

private:
    QString m_configHome;
    QProcessEnvironment m_environment;
    QProcess m_process;
};

#include "support/ProgramRunner.h"

#include <QDir>

ProgramRunner::ProgramRunner(const QString& configHome)
    : m_configHome(configHome)
    , m_environment(QProcessEnvironment::systemEnvironment())
{
    m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

ProgramRunner::~ProgramRunner()
{
    stop(1000);
}

QString ProgramRunner::programPath()
{
    return QString::fromLocal8Bit(qgetenv("QLK_PROGRAM"));
}

void ProgramRunner::start(const QStringList& arguments)
{
    m_process.setProcessEnvironment(m_environment);
    m_process.start(programPath(), arguments);
    m_process.waitForStarted(5000);
}

bool ProgramRunner::stop(int graceMs)
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

QString ProgramRunner::settingsFile() const
{
    return QDir(m_configHome).filePath(QStringLiteral("Quorva/QuorvaLink.conf"));
}

#pragma once

#include <QDir>
#include <QProcess>
#include <QSslCertificate>
#include <QTcpServer>

// Starts the real quorva-link program (path from QLK_PROGRAM) headless, on
// settings and a home folder of its own and on a free port of its own
// (QUORVA_LINK_PORT).
class ProgramRunner
{
public:
    explicit ProgramRunner(const QString& configHome)
        : m_configHome(configHome)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        environment.insert(QStringLiteral("HOME"), configHome);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QTcpServer probe;
        probe.listen(QHostAddress::Any, 0);
        m_port = probe.serverPort();
        environment.insert(QStringLiteral("QUORVA_LINK_PORT"), QString::number(m_port));
        // Under ASan, full allocation stacks for the program: the fast unwinder
        // stops at Qt's frames, so the offscreen plugin's objects that it never
        // frees at exit (lsan.supp) would lose that module from their stacks
        // and be reported through the images and screen they hold.
        if (qEnvironmentVariable("QLK_SANITIZER") == QLatin1String("asan"))
            environment.insert(QStringLiteral("ASAN_OPTIONS"),
                               environment.value(QStringLiteral("ASAN_OPTIONS")) + ":fast_unwind_on_malloc=0");
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    ~ProgramRunner() { stop(1000); }
    static QString programPath() { return qEnvironmentVariable("QLK_PROGRAM"); }
    QProcess& process() { return m_process; }
    quint16 port() const { return m_port; }
    // The settings file the program reads (QSettings native format on Linux).
    QString settingsFile() const { return QDir(m_configHome).filePath(QStringLiteral("Quorva/QuorvaLink.conf")); }
    // The certificate the program made for itself at its first start: what TLS clients trust.
    QList<QSslCertificate> certificates() const
    {
        return QSslCertificate::fromPath(QDir(m_configHome).filePath(QStringLiteral("Quorva/QuorvaLink.crt")));
    }
    void start(const QStringList& arguments = {})
    {
        m_process.start(programPath(), arguments);
        m_process.waitForStarted(5000);
    }
    // Ends the program with SIGTERM (killed after graceMs) and tells whether it
    // quit cleanly: exit code 0. A leak or sanitizer report at exit, a crash on
    // the way out or a hang count as failures.
    bool stop(int graceMs = 3000)
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(graceMs)) {
                m_process.kill();
                m_process.waitForFinished(graceMs);
                return false;
            }
        }
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }

private:
    QString m_configHome;
    quint16 m_port = 0;
    QProcess m_process;
};

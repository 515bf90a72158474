#pragma once

#include "HttpTestRig.h"

#include <QTcpServer>

// Starts the real quorva-link program (QLK_PROGRAM) headless, on a home (temporary unless given) and port of its own.
class ProgramRunner
{
public:
    explicit ProgramRunner(const QString& configHome = {})
        : m_configHome(configHome.isEmpty() ? m_ownHome.path() : configHome)
    {
        QTcpServer probe;
        probe.listen(QHostAddress::Any, 0);
        m_port = probe.serverPort();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_configHome);
        environment.insert(QStringLiteral("HOME"), m_configHome);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("QUORVA_LINK_PORT"), QString::number(m_port));
        // Under ASan, full allocation stacks: the fast unwinder stops at Qt's frames, so the offscreen plugin's
        // objects never freed at exit (lsan.supp) would lose that module from their stacks and be reported.
        if (qEnvironmentVariable("QLK_SANITIZER") == QLatin1String("asan"))
            environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":fast_unwind_on_malloc=0");
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    ~ProgramRunner() { stop(1000); }
    static QString programPath() { return qEnvironmentVariable("QLK_PROGRAM"); }
    QProcess& process() { return m_process; }
    quint16 port() const { return m_port; }
    QString settingsFile() const { return QDir(m_configHome).filePath(QStringLiteral("Quorva/QuorvaLink.conf")); }
    QSettings settings() const { return {settingsFile(), QSettings::IniFormat}; }
    // The certificate the program made for itself at its first start.
    QList<QSslCertificate> certificates() const
    {
        return QSslCertificate::fromPath(QDir(m_configHome).filePath(QStringLiteral("Quorva/QuorvaLink.crt")));
    }
    void configure(const QVariantMap& values) const
    {
        QSettings file = settings();
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            file.setValue(it.key(), it.value());
    }
    // Over TLS, trusting the program's own certificate only; not complete when nothing answers.
    HttpTestResponse ask(const QByteArray& request, int timeoutMs = 10000) const
    {
        HttpTestClient client(true, certificates());
        return client.connectTo(m_port) && client.send(request) ? client.readResponse(timeoutMs) : HttpTestResponse();
    }
    HttpTestResponse keyedGet(const QByteArray& path, int timeoutMs = 10000) const
    {
        const QByteArray auth = "Authorization: Bearer " + settings().value("securityKey").toByteArray() + "\r\n";
        return ask(HttpTestClient::get(path, auth), timeoutMs);
    }
    void start(const QStringList& arguments = {})
    {
        m_process.start(programPath(), arguments);
        m_process.waitForStarted(5000);
    }
    // SIGTERM (killed after graceMs); whether it quit with code 0: a leak report, crash or hang is no clean quit.
    bool stop(int graceMs = 3000)
    {
        if (m_process.state() != QProcess::NotRunning && (m_process.terminate(), !m_process.waitForFinished(graceMs)))
            return m_process.kill(), m_process.waitForFinished(graceMs), false;
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }

private:
    QTemporaryDir m_ownHome;
    QString m_configHome;
    quint16 m_port = 0;
    QProcess m_process;
};

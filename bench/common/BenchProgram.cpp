#include "BenchProgram.h"

#include "BenchClient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTcpServer>
#include <QThread>

#include <algorithm>
#include <cmath>

const QByteArray BenchProgram::key = "Bnch4100v4.0";

BenchProgram::BenchProgram()
    : m_environment(QProcessEnvironment::systemEnvironment())
{
    m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_configHome.path());
    // Nothing leaves the machine: the version check meets a closed loopback port.
    m_environment.insert(QStringLiteral("QUORVA_LINK_VERSION_URL"), QStringLiteral("https://127.0.0.1:9/"));
    m_environment.remove(QStringLiteral("QUORVA_LINK_SIMULATED_PORTS"));
    choosePort();
    setSetting(QStringLiteral("licenseAccepted"), true);
    setSetting(QStringLiteral("securityKey"), QString::fromLatin1(key));
    // The log goes to stderr line by line; a file would measure the disk.
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(QProcess::nullDevice());
}

BenchProgram::~BenchProgram()
{
    stop();
}

QString BenchProgram::programPath()
{
    const QString path = qEnvironmentVariable("QLK_PROGRAM");
    if (!path.isEmpty())
        return path;
    return QDir(QStringLiteral(QLK_SOURCE_DIR)).filePath(QStringLiteral("build/quorva-link"));
}

void BenchProgram::choosePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    m_port = probe.serverPort();
    m_environment.insert(QStringLiteral("QUORVA_LINK_PORT"), QString::number(m_port));
}

void BenchProgram::setSetting(const QString& name, const QVariant& value)
{
    // The program reads the native format, which on Linux is this INI file.
    QSettings settings(QDir(m_configHome.path()).filePath(QStringLiteral("Quorva/QuorvaLink.conf")),
                       QSettings::IniFormat);
    if (value.isValid())
        settings.setValue(name, value);
    else
        settings.remove(name);
    settings.sync();
}

void BenchProgram::setEnvironment(const QString& name, const QString& value)
{
    m_environment.insert(name, value);
}

bool BenchProgram::start(const QString& platform)
{
    m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    m_process.setProcessEnvironment(m_environment);
    m_clock.start();
    // Without a display it runs as the service does.
    const QStringList arguments =
        platform == QLatin1String("offscreen") ? QStringList{QStringLiteral("--headless")} : QStringList();
    m_process.start(programPath(), arguments);
    if (!m_process.waitForStarted(10000)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(programPath(), m_process.errorString());
        return false;
    }
    return true;
}

double BenchProgram::waitUntilAnswering(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    BenchClient client(m_port, 5000);
    while (!deadline.hasExpired()) {
        if (m_process.state() != QProcess::Running) {
            m_error = QStringLiteral("the program ended (exit code %1)").arg(m_process.exitCode());
            return -1;
        }
        if (client.connectToServer()) {
            const BenchClient::Response response = client.getStatus(key);
            const double ms = m_clock.nsecsElapsed() / 1e6;
            if (response.status == 200)
                return ms;
            if (response.status != 0) {
                m_error = QStringLiteral("/getStatus answered %1 after %2 ms: %3")
                              .arg(response.status)
                              .arg(ms)
                              .arg(QString::fromUtf8(response.body.left(200)));
                return -1;
            }
        }
        // Nothing listens yet: a refused connection costs microseconds, so a
        // short pause keeps the error of the measurement small without
        // taking a core from the starting program.
        QThread::usleep(1000);
    }
    m_error = QStringLiteral("no answer within %1 ms").arg(timeoutMs);
    return -1;
}

double BenchProgram::startAndWait(const QString& platform)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0)
            choosePort();
        if (!start(platform))
            return -1;
        const double ms = waitUntilAnswering();
        if (ms >= 0)
            return ms;
        stop();
        // The stopped program's liveness stamp would make the next one step aside.
        setSetting(QStringLiteral("kicked"), 0);
        // Another engineer's program may have bound the port first; it
        // answers our key with 401.
        if (!m_error.contains(QLatin1String(" 401 ")))
            return -1;
    }
    return -1;
}

qint64 BenchProgram::statusField(const char* name) const
{
    if (m_process.state() != QProcess::Running)
        return -1;
    // The program and the processes it started (its window's): what the till pays for.
    QList<qint64> pids{m_process.processId()};
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(m_process.processId()));
    if (children.open(QIODevice::ReadOnly)) {
        for (const QByteArray& child : children.readAll().split(' '))
            if (child.trimmed().toLongLong() > 0)
                pids.append(child.trimmed().toLongLong());
    }
    const QByteArray prefix = QByteArray(name) + ':';
    qint64 sum = -1;
    for (const qint64 pid : pids) {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith(prefix))
                sum = qMax<qint64>(sum, 0) + line.mid(prefix.size()).trimmed().split(' ').first().toLongLong();
        }
    }
    return sum;
}

qint64 BenchProgram::residentKiB() const
{
    return statusField("VmRSS");
}

qint64 BenchProgram::peakResidentKiB() const
{
    return statusField("VmHWM");
}

qint64 BenchProgram::residentAnonymousKiB() const
{
    return statusField("RssAnon");
}

qint64 BenchProgram::residentFileKiB() const
{
    return statusField("RssFile");
}

void BenchProgram::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

double percentile(QVector<double> values, double fraction)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int rank = qBound(1, int(std::ceil(fraction * values.size())), values.size());
    return values.at(rank - 1);
}

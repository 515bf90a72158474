#include "support/PrivateScheduler.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QThread>

#include <grp.h>
#include <unistd.h>

QString PrivateScheduler::problem()
{
    if (QStandardPaths::findExecutable(QStringLiteral("cupsd"), {"/usr/sbin", "/sbin"}).isEmpty())
        return QStringLiteral("cupsd is not installed (Debian package cups-daemon)");
    return geteuid() != 0 ? QStringLiteral("a private CUPS scheduler needs root") : QString();
}

bool PrivateScheduler::start()
{
    if (m_cupsd.state() == QProcess::Running)
        return true;
    QTcpServer probe;
    if (m_port == 0 && m_dir.isValid() && probe.listen(QHostAddress::LocalHost))
        m_port = probe.serverPort();
    probe.close();
    const QString root = m_dir.path();
    QFile files(root + QStringLiteral("/cups-files.conf")), daemon(root + QStringLiteral("/cupsd.conf"));
    if (m_port == 0 || !files.open(QIODevice::WriteOnly) || !daemon.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("no free loopback port, or the scheduler's configuration cannot be written");
        return false;
    }
    for (const char* sub : {"spool", "tmp", "cache", "state", "log"})
        QDir(root).mkpath(QString::fromLatin1(sub));
    files.write(QStringLiteral("ServerRoot %1\nRequestRoot %1/spool\nTempDir %1/tmp\nCacheDir %1/cache\n"
                               "StateDir %1/state\nErrorLog %1/log/error_log\nAccessLog %1/log/access_log\n"
                               "PageLog %1/log/page_log\nServerBin /usr/lib/cups\nDataDir /usr/share/cups\n"
                               "User lp\nGroup lp\nSystemGroup root\n")
                    .arg(root)
                    .toUtf8());
    // Loopback only, and no authentication: the queues are the test's own.
    daemon.write(QStringLiteral("Listen 127.0.0.1:%1\nLogLevel warn\nWebInterface No\nBrowsing No\n"
                                "DefaultAuthType None\n<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                                "<Policy default>\n  <Limit All>\n    Order allow,deny\n    Allow all\n  </Limit>\n"
                                "</Policy>\n")
                     .arg(m_port)
                     .toUtf8());
    // The backends run as lp and write into the spool and temporary folders.
    const group* lp = getgrnam("lp");
    const QStringList entries = QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot) << QString(); // and root
    for (const QString& path : entries) {
        const QByteArray file = QFile::encodeName(path.isEmpty() ? root : root + QLatin1Char('/') + path);
        if (lp && chown(file.constData(), 0, lp->gr_gid) != 0)
            qWarning("PrivateScheduler: cannot hand %s to lp", file.constData());
        QFile::setPermissions(QString::fromLocal8Bit(file), QFileDevice::Permissions(0x7075)); // rwxrwxr-x
    }
    files.close(); // written out before cupsd reads them
    daemon.close();
    m_cupsd.setProcessChannelMode(QProcess::ForwardedChannels);
    m_cupsd.start(QStringLiteral("cupsd"),
                  {"-f", "-c", m_dir.filePath("cupsd.conf"), "-s", m_dir.filePath("cups-files.conf")});
    if (!m_cupsd.waitForStarted(10000)) {
        m_error = QStringLiteral("cupsd does not start: ") + m_cupsd.errorString();
        return false;
    }
    qputenv("CUPS_SERVER", server().toUtf8());
    // Ready when it answers, as scripts/test waits for the machine's scheduler.
    for (const QDeadlineTimer deadline(30000); !deadline.hasExpired() && m_cupsd.state() != QProcess::NotRunning;
         QThread::msleep(100)) {
        QProcess lpstat;
        lpstat.start(QStringLiteral("lpstat"), {QStringLiteral("-h"), server(), QStringLiteral("-r")});
        if (lpstat.waitForFinished(5000) && lpstat.readAll().contains("is running"))
            return true;
    }
    m_error = QStringLiteral("the private scheduler does not answer at ") + server();
    stop();
    return false;
}

void PrivateScheduler::stop()
{
    m_cupsd.terminate(); // none of it waits when cupsd is not running
    if (!m_cupsd.waitForFinished(15000)) {
        m_cupsd.kill();
        m_cupsd.waitForFinished(5000);
    }
}

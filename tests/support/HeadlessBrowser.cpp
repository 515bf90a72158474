#include "HeadlessBrowser.h"

#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

HeadlessBrowser::HeadlessBrowser() = default;

QString HeadlessBrowser::program()
{
    for (const char* name : {"chromium", "chromium-browser"}) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty())
            return path;
    }
    return QString();
}

QString HeadlessBrowser::missingReason()
{
    return program().isEmpty() ? QStringLiteral("chromium is not installed (Debian package chromium)") : QString();
}

QString HeadlessBrowser::dom(const QString& url, int virtualTimeMs, int timeoutMs)
{
    const QString profile = QDir(m_home.path()).filePath(QStringLiteral("profile-%1").arg(++m_runs));
    QProcess browser;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), m_home.path());
    browser.setProcessEnvironment(environment);
    browser.start(program(),
                  {QStringLiteral("--headless=new"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                   QStringLiteral("--disable-quic"), QStringLiteral("--no-first-run"),
                   QStringLiteral("--disable-background-networking"), QStringLiteral("--disable-component-update"),
                   QStringLiteral("--disable-sync"), QStringLiteral("--user-data-dir=") + profile,
                   QStringLiteral("--virtual-time-budget=%1").arg(virtualTimeMs), QStringLiteral("--dump-dom"), url});
    QEventLoop loop;
    QObject::connect(&browser, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop, &QEventLoop::quit);
    QObject::connect(&browser, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (browser.state() != QProcess::NotRunning)
        loop.exec();
    if (browser.state() != QProcess::NotRunning) {
        browser.kill();
        browser.waitForFinished(5000);
    }
    m_log = QString::fromLocal8Bit(browser.readAllStandardError());
    return QString::fromUtf8(browser.readAllStandardOutput());
}

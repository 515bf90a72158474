#pragma once

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// Debian's chromium, headless, with a HOME of its own (whose ~/.pki/nssdb is the certificate database it trusts)
// and a fresh profile for every page.
class HeadlessBrowser
{
public:
    static QString program() { return QStandardPaths::findExecutable(QStringLiteral("chromium")); }
    QString home() const { return m_home.path(); }
    // The DOM as the page left it after its scripts ran for a bounded virtual time (empty when it did not load).
    // This thread's event loop runs meanwhile, so a PageServer here keeps serving.
    QString dom(const QString& url, int virtualTimeMs = 5000)
    {
        QProcess browser;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home());
        browser.setProcessEnvironment(environment);
        browser.start(program(),
                      {"--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                       "--disable-background-networking", "--disable-component-update", "--disable-sync",
                       "--user-data-dir=" + QDir(home()).filePath(QStringLiteral("profile-%1").arg(++m_runs)),
                       QStringLiteral("--virtual-time-budget=%1").arg(virtualTimeMs), "--dump-dom", url});
        if (browser.waitForStarted() &&
            !QTest::qWaitFor([&] { return browser.state() == QProcess::NotRunning; }, 60000))
            browser.kill(), browser.waitForFinished(5000);
        m_log = QString::fromLocal8Bit(browser.readAllStandardError());
        return QString::fromUtf8(browser.readAllStandardOutput());
    }
    // chromium's own output of the last run, for failure messages.
    QString log() const { return m_log; }

private:
    QTemporaryDir m_home;
    QString m_log;
    int m_runs = 0;
};

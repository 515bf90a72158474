#pragma once

#include <QDir>
#include <QString>
#include <QTemporaryDir>

// A real browser: Debian's chromium, headless, with a HOME of its own (whose
// ~/.pki/nssdb is the user certificate database it trusts) and a fresh profile
// for every page. dom() loads a URL, lets its scripts run for a bounded virtual
// time and returns the document as the page left it.
class HeadlessBrowser
{
public:
    HeadlessBrowser();

    // The chromium program, or empty when it is not installed.
    static QString program();
    // For a QSKIP: why there is no browser (empty when there is one).
    static QString missingReason();

    QString home() const { return m_home.path(); }
    // The DOM after the page ran (empty when it did not load). The calling
    // thread's event loop runs meanwhile, so a PageServer there keeps serving.
    QString dom(const QString& url, int virtualTimeMs = 5000, int timeoutMs = 60000);
    // chromium's own output of the last run, for failure messages.
    QString log() const { return m_log; }

private:
    QTemporaryDir m_home;
    QString m_log;
    int m_runs = 0;
};

#include "CupsQueue.h"

#include <cups/cups.h>

#include <algorithm>

QList<CupsQueue::Job> CupsQueue::jobs() const
{
    QList<Job> result;
    cups_job_t* jobs = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, m_name.toUtf8().constData(), 0, CUPS_WHICHJOBS_ALL);
    for (int i = 0; i < count; ++i)
        result.append({jobs[i].id, int(jobs[i].state)});
    cupsFreeJobs(count, jobs);
    std::sort(result.begin(), result.end(), [](const Job& a, const Job& b) { return a.id < b.id; });
    return result;
}

QString CupsQueue::schedulerProblem()
{
    if (QStandardPaths::findExecutable(QStringLiteral("lpadmin")).isEmpty())
        return QStringLiteral("lpadmin is not installed (Debian package cups-client)");
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 5000, nullptr);
    if (!http)
        return QStringLiteral("the CUPS scheduler does not answer at %1 (start cupsd, or use scripts/test)")
            .arg(QString::fromUtf8(cupsServer()));
    httpClose(http);
    return {};
}

bool CupsQueue::run(const QString& program, const QStringList& arguments, QString* error)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(30000);
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    if (error)
        *error = QStringLiteral("%1 %2 failed: %3")
                     .arg(program, arguments.join(' '),
                          finished ? QString::fromLocal8Bit(process.readAll()).trimmed() : process.errorString());
    return false; // one that hangs is killed with the QProcess
}

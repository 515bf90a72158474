#include "app/LogCapture.h"

#include "core/PrintClient.h"

#include <QDateTime>
#include <QSemaphore>
#include <QStringList>

#include <atomic>
#include <cstdio>

namespace {

std::atomic<PrintClient*> g_client{nullptr};

// Serialises the read-modify-write of the captured list across logging threads.
QSemaphore& listSemaphore()
{
    static QSemaphore semaphore(1);
    return semaphore;
}

} // namespace

void LogCapture::install(PrintClient* client)
{
    g_client = client;
    qInstallMessageHandler(&LogCapture::logMessageHandler);
}

void LogCapture::uninstall()
{
    qInstallMessageHandler(nullptr);
    g_client = nullptr;
}

QString LogCapture::formatLine(const QDateTime& when, const QMessageLogContext& context, const QString& message)
{
    const QString stamp = when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    if (context.line < 1)
        return QStringLiteral("[%1]: %2").arg(stamp, message);

    QString file = QString::fromUtf8(context.file ? context.file : "");
    file = file.mid(file.lastIndexOf(QLatin1Char('/')) + 1);
    return QStringLiteral("[%1]: %2\n\t%3:%4 %5")
        .arg(stamp, message, file)
        .arg(context.line)
        .arg(QString::fromUtf8(context.function ? context.function : ""));
}

void LogCapture::logMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    // Warnings and info are noise from the framework; they never reach the Logs page.
    if (type != QtDebugMsg && type != QtCriticalMsg && type != QtFatalMsg)
        return;

    const QString line = formatLine(QDateTime::currentDateTime(), context, message);
    if (context.line >= 1) {
        const QByteArray local = line.toLocal8Bit();
        std::fprintf(stderr, "%s\n", local.constData());
        std::fflush(stderr);
    }

    PrintClient* client = g_client.load();
    if (!client)
        return;

    QSemaphore& semaphore = listSemaphore();
    semaphore.acquire();
    QStringList lines = client->debugMessages();
    lines.prepend(line);
    if (lines.size() > maxLines)
        lines.removeLast();
    client->setDebugMessages(lines);
    semaphore.release();
}

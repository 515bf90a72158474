// Resident memory of quorva-link: idle after its start, and again after
// 10,000 /getStatus requests (ten keep-alive connections of 1,000 requests
// each, so connection threads are taken, freed and reused). On an X server
// also with its window open, and once the window was closed and its documents
// released (the program is told to release them after a few seconds); then
// how soon the window shows: at a first start, once its process has gone, clicked in the tray or
// chosen from the tray menu, and clicked again while its process still runs.
//
// Usage: bench_memory PLATFORM [RUNS]
//   PLATFORM: offscreen (no display) or xcb (the UI on the X server of DISPLAY)
// Prints one JSON object: medians in MiB of the resident set after start,
// after the requests, with the window open and after its release, and the peak;
// on xcb also medians in ms from the click (or "Abrir") to the window mapped.

#include "common/BenchClient.h"
#include "common/BenchProgram.h"
#include "memory/XMapClock.h"
#include "memory/XWindowCloser.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <cstdio>
#include <functional>

namespace {

constexpr int kConnections = 10;
constexpr int kRequestsPerConnection = 1000;
constexpr int kSettleMs = 3000;  // start-up timers and deferred deletions run out
constexpr int kReleaseMs = 3000; // hidden this long, the window's documents go
const QString kWindowTitle = QStringLiteral("Quorva Link");

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QThread::msleep(100);
    }
    return true;
}

QByteArray xdotool(const QStringList& arguments)
{
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), arguments);
    return tool.waitForFinished(10000) ? tool.readAllStandardOutput().trimmed() : QByteArray();
}

// Milliseconds from the action to the window mapped, after which it is closed again; -1 when it does not show.
double timeShow(const std::function<void()>& action, XMapClock& clock)
{
    clock.start();
    action();
    const double ms = clock.waitForMap(kWindowTitle, 10000);
    if (ms < 0 || !XWindowCloser::close(kWindowTitle) ||
        !waitFor([] { return !XWindowCloser::isShown(kWindowTitle); }, 10000))
        return -1;
    return ms;
}

double mib(qint64 kib)
{
    return qRound(kib / 1024.0 * 10) / 10.0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench_memory offscreen|xcb [RUNS]\n");
        return 2;
    }
    const QString platform = args.at(1);
    const int runs = args.size() > 2 ? qMax(1, args.at(2).toInt()) : 3;

    const bool window = platform == QLatin1String("xcb");
    QVector<double> idle, idleAnon, idleFile, loaded, loadedAnon, open, released, releasedAnon, peak;
    QVector<double> firstStart, clickAfterRelease, menuAfterRelease, clickWhileRunning, afterShows;
    for (int i = 0; i < runs; ++i) {
        if (window) {
            // With no key yet the program shows its window on its own: from its start to the window mapped.
            BenchProgram first;
            first.setSetting(QStringLiteral("securityKey"), QVariant());
            XMapClock clock;
            clock.start();
            const double ms = first.start(platform) ? clock.waitForMap(kWindowTitle, 15000) : -1;
            if (ms < 0) {
                std::fprintf(stderr, "bench_memory: the window does not show at a first start\n");
                return 1;
            }
            firstStart.append(ms);
        }
        BenchProgram program;
        program.setEnvironment(QStringLiteral("QUORVA_LINK_WINDOW_RELEASE_MS"), QString::number(kReleaseMs));
        if (program.startAndWait(platform) < 0) {
            std::fprintf(stderr, "bench_memory: %s\n", qPrintable(program.errorString()));
            return 1;
        }
        QThread::msleep(kSettleMs);
        idle.append(program.residentKiB());
        idleAnon.append(program.residentAnonymousKiB());
        idleFile.append(program.residentFileKiB());

        for (int c = 0; c < kConnections; ++c) {
            BenchClient client(program.port());
            for (int r = 0; r < kRequestsPerConnection; ++r) {
                if (client.getStatus(BenchProgram::key).status != 200) {
                    std::fprintf(stderr, "bench_memory: request failed: %s\n", qPrintable(client.errorString()));
                    return 1;
                }
            }
            client.disconnectFromServer();
        }
        QThread::msleep(kSettleMs);
        loaded.append(program.residentKiB());
        loadedAnon.append(program.residentAnonymousKiB());
        if (window) {
            // As a second start of the program asks for the window.
            program.setSetting(QStringLiteral("showWindow"), true);
            if (!waitFor([] { return XWindowCloser::isShown(kWindowTitle); }, 10000)) {
                std::fprintf(stderr, "bench_memory: the window does not show\n");
                return 1;
            }
            QThread::msleep(kSettleMs);
            open.append(program.residentKiB());
            if (!XWindowCloser::close(kWindowTitle) ||
                !waitFor([] { return !XWindowCloser::isShown(kWindowTitle); }, 10000)) {
                std::fprintf(stderr, "bench_memory: the window does not close\n");
                return 1;
            }
            QThread::msleep(kReleaseMs + kSettleMs);
            released.append(program.residentKiB());
            releasedAnon.append(program.residentAnonymousKiB());
        }
        peak.append(program.peakResidentKiB());
        if (window) {
            XMapClock clock;
            const QString icon = QString::fromLatin1(
                xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                         QString::number(program.pid()), QStringLiteral("--name"), QStringLiteral("^QuorvaLink$")}));
            if (!clock.isOpen() || icon.isEmpty()) {
                std::fprintf(stderr, "bench_memory: no tray icon to click (xdotool and a tray host are needed)\n");
                return 1;
            }
            const auto click = [&icon](const char* button) {
                xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), icon, QStringLiteral("5"),
                         QStringLiteral("5"), QStringLiteral("click"), QString::fromLatin1(button)});
            };
            const double afterRelease = timeShow([&] { click("1"); }, clock);
            QThread::msleep(kReleaseMs + kSettleMs);
            // A user takes a few tenths of a second to reach "Abrir": the menu's opening starts the process.
            click("3");
            QThread::msleep(300);
            const double menu = timeShow(
                [] {
                    xdotool({QStringLiteral("key"), QStringLiteral("Down"), QStringLiteral("Return")});
                },
                clock);
            QThread::msleep(500);
            const double running = timeShow([&] { click("1"); }, clock);
            if (afterRelease < 0 || menu < 0 || running < 0) {
                std::fprintf(stderr, "bench_memory: the window does not show from the tray\n");
                return 1;
            }
            clickAfterRelease.append(afterRelease);
            menuAfterRelease.append(menu);
            clickWhileRunning.append(running);
            // What the tray program keeps of all this (the menu's window among it) once the window's process went.
            QThread::msleep(kReleaseMs + kSettleMs);
            afterShows.append(program.residentKiB());
        }
        program.stop();
    }

    QJsonObject result{
        {"platform", platform},
        {"runs", runs},
        {"requests", kConnections * kRequestsPerConnection},
        {"idleMiB", mib(qint64(median(idle)))},
        {"idleAnonMiB", mib(qint64(median(idleAnon)))},
        {"idleFileMiB", mib(qint64(median(idleFile)))},
        {"afterRequestsMiB", mib(qint64(median(loaded)))},
        {"afterRequestsAnonMiB", mib(qint64(median(loadedAnon)))},
        {"peakMiB", mib(qint64(median(peak)))},
    };
    if (window) {
        result.insert("windowOpenMiB", mib(qint64(median(open))));
        result.insert("releasedMiB", mib(qint64(median(released))));
        result.insert("releasedAnonMiB", mib(qint64(median(releasedAnon))));
        const auto ms = [](const QVector<double>& values) { return qRound(median(values) * 10) / 10.0; };
        result.insert("showFirstStartMs", ms(firstStart));
        result.insert("showClickAfterReleaseMs", ms(clickAfterRelease));
        result.insert("showMenuAfterReleaseMs", ms(menuAfterRelease));
        result.insert("showClickWhileRunningMs", ms(clickWhileRunning));
        result.insert("afterShowsMiB", mib(qint64(median(afterShows))));
    }
    std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return 0;
}

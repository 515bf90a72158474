// Resident memory of quorva-link: idle after its start, and again after
// 10,000 /getStatus requests (ten keep-alive connections of 1,000 requests
// each, so connection threads are taken, freed and reused).
//
// Usage: bench_memory PLATFORM [RUNS]
//   PLATFORM: offscreen (no display) or xcb (the UI on the X server of DISPLAY)
// Prints one JSON object: medians in MiB of the resident set after start,
// after the requests, and its peak.

#include "common/BenchClient.h"
#include "common/BenchProgram.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <cstdio>

namespace {

constexpr int kConnections = 10;
constexpr int kRequestsPerConnection = 1000;
constexpr int kSettleMs = 3000; // start-up timers and deferred deletions run out

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

    QVector<double> idle, idleAnon, idleFile, loaded, loadedAnon, peak;
    for (int i = 0; i < runs; ++i) {
        BenchProgram program;
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
        peak.append(program.peakResidentKiB());
        program.stop();
    }

    const QJsonObject result{
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
    std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return 0;
}

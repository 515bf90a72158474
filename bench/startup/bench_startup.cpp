// Times the start of quorva-link with no display: from the start of the
// process to its first HTTPS answer (/getStatus with the key, 200). Each run
// starts on fresh settings.
//
// Usage: bench_startup [RUNS]
// Prints one JSON object: the median, the fastest and the slowest run in ms.

#include "common/BenchProgram.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int runs = args.size() > 1 ? qMax(1, args.at(1).toInt()) : 11;

    QVector<double> times;
    QJsonArray all;
    // One run more than asked for: the first one fills the page cache.
    for (int i = 0; i <= runs; ++i) {
        BenchProgram program;
        const double ms = program.startAndWait();
        program.stop();
        if (ms < 0) {
            std::fprintf(stderr, "bench_startup: %s\n", qPrintable(program.errorString()));
            return 1;
        }
        if (i > 0) {
            times.append(ms);
            all.append(qRound(ms * 10) / 10.0);
        }
        QThread::msleep(200); // let the port and the machine settle
    }

    const QJsonObject result{
        {"runs", runs},
        {"medianMs", qRound(median(times) * 10) / 10.0},
        {"minMs", qRound(percentile(times, 0) * 10) / 10.0},
        {"maxMs", qRound(percentile(times, 1) * 10) / 10.0},
        {"allMs", all},
    };
    std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return 0;
}

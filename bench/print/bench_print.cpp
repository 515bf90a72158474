// Times /sendJob end to end: a receipt with text and a logo, posted over
// HTTPS to quorva-link, rendered, spooled through a raw CUPS queue and
// received by a capture printer on loopback. Each job is timed from the
// first byte of the request until the printer has the whole job; the time
// until the API's answer is kept as well.
//
// Usage: bench_print [JOBS]
// Prints one JSON object: p50 and p99 in ms of both times, bytes per job.

#include "common/BenchClient.h"
#include "common/BenchProgram.h"
#include "support/CapturePrinter.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QtMath>

#include <cstdio>

namespace {

// A 384 x 120 logo: a shaded disc and bars, with the grey levels that make
// error diffusion work.
QByteArray logoPng()
{
    QImage image(384, 120, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const double d = qSqrt(qPow(x - 60, 2) + qPow(y - 60, 2));
            int g = 255;
            if (d < 50)
                g = int(40 + d * 3);
            else if (x > 130 && (y / 12) % 2 == 0)
                g = (x * 255) / image.width();
            image.setPixel(x, y, qRgb(g, g, g));
        }
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

QByteArray sendJobBody(const QString& printer)
{
    QString lines;
    for (int i = 1; i <= 20; ++i)
        lines += QStringLiteral("%1 x Pão de ló com açúcar   %2,50 €\n").arg(i).arg(i);
    const QJsonArray job{
        QJsonObject{{"op", "alignment"}, {"data", 1}},
        QJsonObject{{"op", "image"}, {"data", "data:image/png;base64," + QString::fromLatin1(logoPng().toBase64())}},
        QJsonObject{{"op", "style"}, {"data", QJsonObject{{"emphasized", true}}}},
        QJsonObject{{"op", "text"}, {"data", "Quorva Link — Balcão 1\n"}},
        QJsonObject{{"op", "style"}, {"data", QJsonObject{}}},
        QJsonObject{{"op", "alignment"}, {"data", 0}},
        QJsonObject{{"op", "text"}, {"data", lines}},
        QJsonObject{{"op", "cut"}, {"data", "feed"}},
    };
    return QJsonDocument(QJsonObject{{"printer", printer}, {"job", job}}).toJson(QJsonDocument::Compact);
}

// The key under which the program remembers the user's switch for a printer.
QString printerSwitchKey(const QString& name)
{
    const QByteArray digest = QCryptographicHash::hash(name.toLatin1(), QCryptographicHash::Sha1);
    return QStringLiteral("printers/") + QString::fromLatin1(digest.toBase64());
}

bool waitForPrinter(BenchClient& client, const QString& name, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        const BenchClient::Response response = client.postJson("/getPrinters", BenchProgram::key, "{}");
        const QJsonArray names = QJsonDocument::fromJson(response.body).object().value("data").toArray();
        if (names.contains(name))
            return true;
        QThread::msleep(200);
    }
    return false;
}

double rounded(double ms)
{
    return qRound(ms * 100) / 100.0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int jobs = args.size() > 1 ? qMax(1, args.at(1).toInt()) : 100;
    const int warmUp = 3;

    CapturePrinter printer(QStringLiteral("qlk-bench"));
    if (!printer.isValid()) {
        std::fprintf(stderr, "bench_print: %s\n", qPrintable(printer.errorString()));
        return 1;
    }
    BenchProgram program;
    program.setSetting(printerSwitchKey(printer.queueName()), true);
    if (program.startAndWait() < 0) {
        std::fprintf(stderr, "bench_print: %s\n", qPrintable(program.errorString()));
        return 1;
    }
    BenchClient client(program.port(), 30000);
    if (!waitForPrinter(client, printer.queueName(), 20000)) {
        std::fprintf(stderr, "bench_print: the program does not offer %s\n", qPrintable(printer.queueName()));
        return 1;
    }

    const QByteArray body = sendJobBody(printer.queueName());
    QVector<double> answered, printed;
    QElapsedTimer clock;
    for (int i = 0; i < warmUp + jobs; ++i) {
        clock.start();
        const BenchClient::Response response = client.postJson("/sendJob", BenchProgram::key, body);
        const double answerMs = clock.nsecsElapsed() / 1e6;
        if (!response.body.contains("Job completed successfully")) {
            std::fprintf(stderr, "bench_print: job %d: %d %s %s\n", i, response.status, response.body.constData(),
                         qPrintable(client.errorString()));
            return 1;
        }
        // The capture printer takes the job on a thread of its own; polling
        // its list every quarter millisecond costs next to nothing.
        while (printer.jobs().size() < i + 1) {
            if (clock.elapsed() > 30000) {
                std::fprintf(stderr, "bench_print: job %d never reached the printer\n", i);
                return 1;
            }
            QThread::usleep(250);
        }
        const double printedMs = clock.nsecsElapsed() / 1e6;
        if (i >= warmUp) {
            answered.append(answerMs);
            printed.append(printedMs);
        }
    }

    const QList<QByteArray> received = printer.jobs();
    for (const QByteArray& job : received) {
        if (job != received.first() || job.isEmpty()) {
            std::fprintf(stderr, "bench_print: the printer received different bytes for the same job\n");
            return 1;
        }
    }

    const QJsonObject result{
        {"jobs", jobs},
        {"requestBytes", body.size()},
        {"printerBytes", received.first().size()},
        {"printedP50Ms", rounded(percentile(printed, 0.5))},
        {"printedP99Ms", rounded(percentile(printed, 0.99))},
        {"answeredP50Ms", rounded(percentile(answered, 0.5))},
        {"answeredP99Ms", rounded(percentile(answered, 0.99))},
    };
    std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return 0;
}

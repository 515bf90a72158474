// Hostile clients against the real quorva-link, over TLS on loopback: one
// request or one connection each, without the key unless said. For each: the
// first line of the answer and when it came, the program's processor time and
// the growth of its resident memory during the attack, and how long keyed
// /getStatus requests on other connections (one every 250 ms) waited meanwhile.
// A fresh program for every attack.
//
// Usage: bench_attacks [NAME...]
//   continuation  one header and 30,000 continuation lines (120 KB)
//   escapes       a form body of 1,000,000 "%41" escapes (3 MB)
//   pipeliner     GET / pipelined 20,000 times, never read, then junk for 6 s
//   fields        20,000 header fields
//   nesting       a JSON body of 4,000,000 "[" (keyed or not, parsed first)
//   wraptext      a keyed print job of one 4 MB text without spaces (needs CUPS;
//                 QLK_WRAP_CHARS sets the size)
// Prints one line per attack.

#include "common/BenchClient.h"
#include "common/BenchProgram.h"
#include "support/CapturePrinter.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <functional>
#include <unistd.h>

namespace {

struct Outcome
{
    QByteArray answer = "no answer";
    double answeredAfterMs = -1;
};

// Sends the attack on a connection of its own, on a thread of its own.
using Attack = std::function<void(QSslSocket& socket, Outcome& outcome, const std::atomic<bool>& stop)>;

// Writes without letting the client's own buffer grow past 1 MiB.
bool feed(QSslSocket& socket, const QByteArray& data, const std::atomic<bool>& stop)
{
    for (int at = 0; at < data.size() && !stop;) {
        if (socket.state() != QAbstractSocket::ConnectedState)
            return false;
        if (socket.bytesToWrite() + socket.encryptedBytesToWrite() < (1 << 20)) {
            const int piece = qMin(65536, data.size() - at);
            socket.write(data.constData() + at, piece);
            at += piece;
        }
        socket.waitForBytesWritten(20);
    }
    return true;
}

void awaitAnswer(QSslSocket& socket, Outcome& outcome, const QElapsedTimer& clock, const std::atomic<bool>& stop,
                 int timeoutMs = 120000)
{
    QByteArray got;
    while (!stop && clock.elapsed() < timeoutMs && socket.state() == QAbstractSocket::ConnectedState &&
           !got.contains("\r\n")) {
        socket.waitForReadyRead(100);
        got += socket.readAll();
    }
    got += socket.readAll();
    if (got.contains("\r\n")) {
        outcome.answer = got.left(got.indexOf("\r\n"));
        outcome.answeredAfterMs = clock.elapsed();
    } else if (socket.state() != QAbstractSocket::ConnectedState) {
        outcome.answer = "closed without an answer";
        outcome.answeredAfterMs = clock.elapsed();
    }
}

Attack oneRequest(const QByteArray& request)
{
    return [request](QSslSocket& socket, Outcome& outcome, const std::atomic<bool>& stop) {
        QElapsedTimer clock;
        clock.start();
        feed(socket, request, stop);
        awaitAnswer(socket, outcome, clock, stop);
    };
}

qint64 cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLongLong() + fields.value(12).toLongLong(); // utime, stime
}

int run(const QString& name, const Attack& attack, int durationMs, const QString& printer = QString())
{
    BenchProgram program;
    if (!printer.isEmpty())
        program.setSetting(
            QStringLiteral("printers/") +
                QString::fromLatin1(QCryptographicHash::hash(printer.toUtf8(), QCryptographicHash::Sha1).toBase64()),
            true);
    if (program.startAndWait() < 0) {
        std::fprintf(stderr, "bench_attacks: %s\n", qPrintable(program.errorString()));
        return 1;
    }
    if (!printer.isEmpty()) {
        BenchClient client(BenchProgram::port);
        QElapsedTimer waited;
        for (waited.start(); waited.elapsed() < 30000; QThread::msleep(200)) {
            if (client.request("GET", "/getPrinters", "Authorization: Bearer " + BenchProgram::key + "\r\n")
                    .body.contains(printer.toUtf8()))
                break;
        }
    }
    QThread::msleep(1000);
    const qint64 residentBefore = program.residentKiB();
    const qint64 cpuBefore = cpuTicks(program.pid());
    qint64 residentPeak = residentBefore;

    Outcome outcome;
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    QThread* attacker = QThread::create([&]() {
        QSslSocket socket;
        socket.setPeerVerifyMode(QSslSocket::VerifyNone);
        socket.setReadBufferSize(4096); // reads only what it asks for
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), BenchProgram::port);
        if (socket.waitForEncrypted(10000))
            attack(socket, outcome, stop);
        else
            outcome.answer = "no connection";
        done = true;
        socket.abort();
    });
    QElapsedTimer clock;
    clock.start();
    attacker->start();

    QVector<double> waits;
    int unanswered = 0;
    QElapsedTimer sinceProbe;
    sinceProbe.start();
    while (clock.elapsed() < durationMs && !(done && clock.elapsed() > 1000)) {
        residentPeak = qMax(residentPeak, program.residentKiB());
        if (sinceProbe.elapsed() >= 250 && clock.elapsed() > 200) {
            sinceProbe.restart();
            BenchClient client(BenchProgram::port, 10000);
            QElapsedTimer probe;
            probe.start();
            if (client.getStatus(BenchProgram::key).status == 200)
                waits << probe.nsecsElapsed() / 1e6;
            else
                ++unanswered;
        }
        QThread::msleep(20);
    }
    stop = true;
    const double attackMs = clock.elapsed();
    const qint64 cpu = cpuTicks(program.pid()) - cpuBefore;
    attacker->wait();
    delete attacker;

    const double ticks = double(sysconf(_SC_CLK_TCK));
    std::printf("%-13s | %-38s | %8s | %6.1f s | %+7.1f MiB | %4d probes, slowest %7.1f ms, %d unanswered | %.1f s\n",
                qPrintable(name), outcome.answer.left(38).constData(),
                outcome.answeredAfterMs < 0
                    ? "-"
                    : qPrintable(QStringLiteral("%1 s").arg(outcome.answeredAfterMs / 1000, 0, 'f', 2)),
                cpu / ticks, (residentPeak - residentBefore) / 1024.0, int(waits.size()) + unanswered,
                waits.isEmpty() ? 0.0 : percentile(waits, 1.0), unanswered, attackMs / 1000);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList names = app.arguments().mid(1);
    if (names.isEmpty())
        names = QStringList{"continuation", "escapes", "pipeliner", "fields", "nesting", "wraptext"};

    std::printf("%-13s | %-38s | %8s | %8s | %11s | keyed /getStatus meanwhile | attack\n", "attack", "answer", "after",
                "CPU", "resident");
    int failures = 0;
    for (const QString& name : qAsConst(names)) {
        if (name == "continuation") {
            failures +=
                run(name, oneRequest("GET / HTTP/1.1\r\nX-A: v\r\n" + QByteArray(" c\r\n").repeated(30000) + "\r\n"),
                    120000);
        } else if (name == "escapes") {
            const QByteArray body = "a=" + QByteArray("%41").repeated(1000000);
            failures += run(name,
                            oneRequest("POST /getStatus HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                                       "Content-Length: " +
                                       QByteArray::number(body.size()) + "\r\n\r\n" + body),
                            120000);
        } else if (name == "pipeliner") {
            failures += run(
                name,
                [](QSslSocket& socket, Outcome& outcome, const std::atomic<bool>& stop) {
                    feed(socket, QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n").repeated(20000), stop);
                    const QByteArray junk(65536, 'j');
                    QElapsedTimer clock;
                    for (clock.start(); clock.elapsed() < 6000 && !stop;)
                        feed(socket, junk, stop);
                    outcome.answer = socket.peek(64).split('\r').value(0);
                },
                9000);
        } else if (name == "fields") {
            QByteArray fields;
            for (int i = 0; i < 20000; ++i)
                fields += "X-" + QByteArray::number(i) + ": v\r\n";
            failures += run(name, oneRequest("GET / HTTP/1.1\r\n" + fields + "\r\n"), 120000);
        } else if (name == "nesting") {
            const QByteArray body(4000000, '[');
            failures +=
                run(name,
                    oneRequest("POST /getStatus HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: " +
                               QByteArray::number(body.size()) + "\r\n\r\n" + body),
                    120000);
        } else if (name == "wraptext") {
            CapturePrinter printer(QStringLiteral("qlk-attack"));
            if (!printer.isValid()) {
                std::fprintf(stderr, "bench_attacks: no capture printer: %s\n", qPrintable(printer.errorString()));
                ++failures;
                continue;
            }
            const int chars =
                qEnvironmentVariableIsSet("QLK_WRAP_CHARS") ? qEnvironmentVariableIntValue("QLK_WRAP_CHARS") : 4000000;
            const QByteArray json =
                QJsonDocument(
                    QJsonObject{{"printer", printer.queueName()},
                                {"job", QJsonArray{QJsonObject{{"op", "text"}, {"data", QString(chars, 'x')}}}}})
                    .toJson(QJsonDocument::Compact);
            failures += run(QStringLiteral("wraptext %1M").arg(chars / 1e6),
                            oneRequest("POST /sendJob HTTP/1.1\r\nContent-Type: application/json\r\n"
                                       "Authorization: Bearer " +
                                       BenchProgram::key + "\r\nContent-Length: " + QByteArray::number(json.size()) +
                                       "\r\n\r\n" + json),
                            600000, printer.queueName());
        } else {
            std::fprintf(stderr, "bench_attacks: unknown attack %s\n", qPrintable(name));
            return 2;
        }
    }
    return failures == 0 ? 0 : 1;
}

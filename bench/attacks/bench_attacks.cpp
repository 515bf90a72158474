// Hostile clients against the real quorva-link, over TLS: one request or one
// connection each (or several at once where said), without the key unless
// said. For each: the first line of the (first) answer and when it came, the
// program's processor time, the growth of its resident memory and of its open
// descriptors during the attack (peaks), and how long keyed /getStatus requests
// from loopback (one every 250 ms) waited meanwhile. A fresh program for every attack.
//
// Usage: bench_attacks [NAME...]
//   continuation  one header and 30,000 continuation lines (120 KB)
//   escapes       a form body of 1,000,000 "%41" escapes (3 MB)
//   pipeliner     GET / pipelined 20,000 times, never read, then junk for 6 s
//   fields        20,000 header fields
//   nesting       a JSON body of 4,000,000 "[" (keyed or not, parsed first)
//   wraptext      a keyed print job of one 4 MB text without spaces (needs CUPS;
//                 QLK_WRAP_CHARS sets the size)
//   files         a multipart body of 100,000 file parts (7 MB)
//   parameters    19 connections at once, each a form body of 2,000,000 empty parameters
//   members       19 connections at once, each a JSON body of 300,000 members
//   jsonlock      4 connections from this computer's network address that post 3.9 MB
//                 JSON bodies (99,999 members, the most a body may have) one after the
//                 other for 20 s (from loopback, their wrong keys would put the probes'
//                 own address in the 429 window too)
//   jsonlock-keyed  the same with the key (each body parsed, none refused)
//   trickle       20 connections from this computer's network address (a host of the
//                 shop's network) that send their headers, then a body byte every 5 s, for 70 s
//   handshake     the same 20 that never start TLS, for 30 s
// Prints one line per attack.

#include "common/BenchClient.h"
#include "common/BenchProgram.h"
#include "support/CapturePrinter.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
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

// How an attack reaches the program.
struct Setup
{
    int connections = 1;
    bool fromNetwork = false; // from this computer's network address, not loopback
    bool tls = true;          // false: the connections never start TLS
    QString printer;          // a capture queue the program is to use
};

// An address of this computer on its network (a host of the shop's network to its server), or null.
QHostAddress networkAddress()
{
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
            return address;
    }
    return QHostAddress();
}

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

// For connections that never start TLS: when the server closes them.
void awaitClose(QSslSocket& socket, Outcome& outcome, const std::atomic<bool>& stop)
{
    QElapsedTimer clock;
    clock.start();
    while (!stop && socket.state() == QAbstractSocket::ConnectedState)
        socket.waitForReadyRead(100);
    const QByteArray got = socket.readAll();
    outcome.answer = got.isEmpty() ? QByteArray("closed") : got.left(got.indexOf("\r\n"));
    if (!stop)
        outcome.answeredAfterMs = clock.elapsed();
}

QByteArray post(const QByteArray& type, const QByteArray& body, const QByteArray& extraHeaders = {})
{
    return "POST /getStatus HTTP/1.1\r\nContent-Type: " + type + "\r\n" + extraHeaders +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray jsonMembers(int count)
{
    QByteArray json = "{";
    for (int i = 0; i < count; ++i)
        json += "\"k" + QByteArray::number(i).rightJustified(7, '0') + "\":0,";
    json.chop(1);
    return json + "}";
}

// The answer's head and its body (by Content-Length), so that the next one starts clean.
bool awaitWholeAnswer(QSslSocket& socket, Outcome& outcome, const QElapsedTimer& clock, const std::atomic<bool>& stop)
{
    QByteArray got;
    int end = -1;
    while (!stop && socket.state() == QAbstractSocket::ConnectedState) {
        got += socket.readAll();
        const int head = got.indexOf("\r\n\r\n");
        if (head >= 0) {
            const QByteArray lower = got.left(head).toLower();
            const int at = lower.indexOf("content-length:");
            end = head + 4 + (at < 0 ? 0 : lower.mid(at + 15, lower.indexOf("\r\n", at) - at - 15).trimmed().toInt());
            if (got.size() >= end)
                break;
        }
        socket.waitForReadyRead(100);
    }
    if (end < 0 || got.size() < end)
        return false;
    outcome.answer = got.left(got.indexOf("\r\n"));
    outcome.answeredAfterMs = clock.elapsed();
    return true;
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

int openDescriptors(qint64 pid)
{
    return int(QDir(QStringLiteral("/proc/%1/fd").arg(pid))
                   .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                   .size());
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

int run(const QString& name, const Attack& attack, int durationMs, const Setup& setup = Setup())
{
    const QString& printer = setup.printer;
    const QHostAddress target = setup.fromNetwork ? networkAddress() : QHostAddress(QHostAddress::LocalHost);
    if (target.isNull()) {
        std::fprintf(stderr, "bench_attacks: %s: this computer has no network address\n", qPrintable(name));
        return 1;
    }
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
        BenchClient client(program.port());
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
    const int descriptorsBefore = openDescriptors(program.pid());
    qint64 residentPeak = residentBefore;
    int descriptorsPeak = descriptorsBefore;

    QVector<Outcome> outcomes(setup.connections);
    std::atomic<bool> stop{false};
    std::atomic<int> done{0};
    QVector<QThread*> attackers;
    for (int i = 0; i < setup.connections; ++i) {
        attackers << QThread::create([&, i]() {
            QSslSocket socket;
            socket.setPeerVerifyMode(QSslSocket::VerifyNone);
            socket.setReadBufferSize(4096); // reads only what it asks for
            if (!setup.tls) {
                socket.connectToHost(target, program.port());
                if (socket.waitForConnected(10000))
                    awaitClose(socket, outcomes[i], stop);
                else
                    outcomes[i].answer = "no connection";
            } else {
                socket.connectToHostEncrypted(target.toString(), program.port());
                if (socket.waitForEncrypted(10000))
                    attack(socket, outcomes[i], stop);
                else
                    outcomes[i].answer = "no connection";
            }
            ++done;
            socket.abort();
        });
    }
    QElapsedTimer clock;
    clock.start();
    for (QThread* attacker : qAsConst(attackers))
        attacker->start();

    QVector<double> waits;
    int unanswered = 0;
    QElapsedTimer sinceProbe;
    sinceProbe.start();
    while (clock.elapsed() < durationMs && !(done == setup.connections && clock.elapsed() > 1000)) {
        residentPeak = qMax(residentPeak, program.residentKiB());
        descriptorsPeak = qMax(descriptorsPeak, openDescriptors(program.pid()));
        if (sinceProbe.elapsed() >= 250 && clock.elapsed() > 200) {
            sinceProbe.restart();
            BenchClient client(program.port(), 10000);
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
    const qint64 cpu = program.residentKiB() < 0 ? -1 : cpuTicks(program.pid()) - cpuBefore;
    for (QThread* attacker : qAsConst(attackers)) {
        attacker->wait();
        delete attacker;
    }
    // Of several connections: the first's answer, and when the last one had its own.
    const Outcome& outcome = outcomes.first();
    double lastMs = -1;
    for (const Outcome& each : qAsConst(outcomes))
        lastMs = each.answeredAfterMs < 0 ? lastMs : qMax(lastMs, each.answeredAfterMs);
    const QString after =
        outcome.answeredAfterMs < 0 ? QStringLiteral("-")
        : setup.connections == 1
            ? QStringLiteral("%1 s").arg(outcome.answeredAfterMs / 1000, 0, 'f', 2)
            : QStringLiteral("%1-%2 s").arg(outcome.answeredAfterMs / 1000, 0, 'f', 1).arg(lastMs / 1000, 0, 'f', 1);

    const double ticks = double(sysconf(_SC_CLK_TCK));
    std::printf(
        "%-13s | %-38s | %10s | %6.1f s | %+7.1f MiB | %+5d fds | %4d probes, slowest %7.1f ms, %d unanswered | "
        "%.1f s%s\n",
        qPrintable(name), outcome.answer.left(38).constData(), qPrintable(after), cpu / ticks,
        (residentPeak - residentBefore) / 1024.0, descriptorsPeak - descriptorsBefore, int(waits.size()) + unanswered,
        waits.isEmpty() ? 0.0 : percentile(waits, 1.0), unanswered, attackMs / 1000,
        program.residentKiB() < 0 ? " | the program ended" : "");
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList names = app.arguments().mid(1);
    if (names.isEmpty())
        names = QStringList{"continuation", "escapes", "pipeliner", "fields",         "nesting", "wraptext", "files",
                            "parameters",   "members", "jsonlock",  "jsonlock-keyed", "trickle", "handshake"};

    std::printf("%-13s | %-38s | %10s | %8s | %11s | %9s | keyed /getStatus meanwhile | attack\n", "attack", "answer",
                "after", "CPU", "resident", "open");
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
        } else if (name == "files") {
            QByteArray body;
            for (int i = 0; i < 100000; ++i)
                body += "--b\r\nContent-Disposition: form-data; name=\"f" + QByteArray::number(i) +
                        "\"; filename=\"x\"\r\n\r\nz\r\n";
            failures += run(name, oneRequest(post("multipart/form-data; boundary=b", body + "--b--\r\n")), 180000);
        } else if (name == "parameters") {
            failures +=
                run(name, oneRequest(post("application/x-www-form-urlencoded", QByteArray("a&").repeated(2000000))),
                    300000, Setup{19});
        } else if (name == "members") {
            failures += run(name, oneRequest(post("application/json", jsonMembers(300000))), 300000, Setup{19});
        } else if (name == "jsonlock" || name == "jsonlock-keyed") {
            // Keys of 32 characters: 3.9 MB within the limit of values.
            QByteArray json = "{";
            for (int i = 0; i < 99999; ++i)
                json += "\"" + QByteArray::number(i).rightJustified(32, 'k') + "\":0,";
            json.chop(1);
            const QByteArray request =
                post("application/json", json + "}",
                     name == "jsonlock" ? QByteArray() : "Authorization: Bearer " + BenchProgram::key + "\r\n");
            failures += run(
                name,
                [request](QSslSocket& socket, Outcome& outcome, const std::atomic<bool>& stop) {
                    QElapsedTimer clock;
                    for (clock.start(); clock.elapsed() < 20000 && !stop;) {
                        feed(socket, request, stop);
                        if (!awaitWholeAnswer(socket, outcome, clock, stop))
                            break;
                    }
                },
                25000, Setup{4, true});
        } else if (name == "trickle") {
            failures += run(
                name,
                [](QSslSocket& socket, Outcome& outcome, const std::atomic<bool>& stop) {
                    QElapsedTimer clock;
                    clock.start();
                    socket.write(post("application/x-www-form-urlencoded", QByteArray())
                                     .replace("Content-Length: 0", "Content-Length: 4000000"));
                    for (qint64 next = 5000; !stop && socket.state() == QAbstractSocket::ConnectedState;) {
                        if (clock.elapsed() >= next) {
                            socket.write("a");
                            next += 5000;
                        }
                        socket.waitForReadyRead(100);
                    }
                    const QByteArray got = socket.readAll();
                    outcome.answer = got.isEmpty() ? QByteArray("closed") : got.left(got.indexOf("\r\n"));
                    if (!stop)
                        outcome.answeredAfterMs = clock.elapsed();
                },
                75000, Setup{20, true});
        } else if (name == "handshake") {
            failures += run(name, Attack(), 30000, Setup{20, true, false});
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
                            600000, Setup{1, false, true, printer.queueName()});
        } else {
            std::fprintf(stderr, "bench_attacks: unknown attack %s\n", qPrintable(name));
            return 2;
        }
    }
    return failures == 0 ? 0 : 1;
}

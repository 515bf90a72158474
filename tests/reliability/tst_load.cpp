// The API under load, as at a busy till: 19 keep-alive TLS clients at once,
// each sending 500 requests that mix status, printer and terminal queries with
// print jobs to a capture printer behind a real CUPS queue. Nothing may fail,
// every job must reach the printer whole, once and unmixed with another, and
// the resident memory must level off. Figures are logged for the record.

#include "support/ApiServer.h"
#include "support/CapturePrinter.h"
#include "support/HttpTestRig.h"
#include "support/TestMain.h"

#include "core/PrintClient.h"
#include "printing/PrintJob.h"
#include "printing/Printer.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>

#include <atomic>
#include <memory>
#include <vector>

namespace {

constexpr int Clients = 19;
// Every JobEvery-th request of a client is a print job.
constexpr int JobEvery = 50;

int requestsPerClient()
{
    // The thread sanitizer run asks for fewer (it is ten times slower).
    return qEnvironmentVariableIsSet("QLK_LOAD_REQUESTS") ? qEnvironmentVariableIntValue("QLK_LOAD_REQUESTS") : 500;
}

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// A receipt that names its client and number, long enough to span several
// writes to the spooler, so that interleaving would show.
QJsonArray receipt(int client, int number)
{
    const QString tag = QStringLiteral("client %1 receipt %2").arg(client).arg(number);
    QJsonArray job{QJsonObject{{"op", "text"}, {"data", tag + QLatin1Char('\n')}}};
    for (int line = 0; line < 20; ++line)
        job.append(QJsonObject{{"op", "text"}, {"data", QStringLiteral("%1 line %2 Olá ção\n").arg(tag).arg(line)}});
    job.append(QJsonObject{{"op", "cut"}, {"data", "feed"}});
    return job;
}

QByteArray rendered(const QJsonArray& job)
{
    PrintJob printJob(job, QStringLiteral("unused"), false);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    printJob.render(&buffer);
    return buffer.data();
}

struct ClientResult
{
    int served = 0;
    int jobs = 0;
    QStringList errors;
};

} // namespace

class TestLoad : public QObject
{
    Q_OBJECT

private slots:
    void concurrentClients();
};

void TestLoad::concurrentClients()
{
    QLK_REQUIRE_CUPS();
    // 9,500 requests log some 50,000 debug lines, past what QtTest prints;
    // the figures at the end are what counts.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    CapturePrinter printer(QStringLiteral("qlk-load"));
    QVERIFY2(printer.isValid(), qPrintable(printer.errorString()));
    ApiServer server;
    QVERIFY2(server.isValid(), qPrintable(server.errorString()));
    std::shared_ptr<Printer> target;
    QTRY_VERIFY_WITH_TIMEOUT(([&]() {
                                 for (const auto& candidate : server.printClient().printerList()) {
                                     if (candidate->name() == printer.queueName())
                                         target = candidate;
                                 }
                                 return target != nullptr;
                             }()),
                             15000);
    target->setAvailable(true);

    const int requests = requestsPerClient();
    const quint16 port = server.port();
    const QByteArray auth = "Authorization: Bearer " + server.keyBytes() + "\r\n";
    const QByteArray printerName = printer.queueName().toUtf8();
    std::atomic<int> progress{0};
    std::vector<ClientResult> results(Clients);
    std::vector<std::unique_ptr<QThread>> threads;

    for (int c = 0; c < Clients; ++c) {
        threads.emplace_back(QThread::create([&, c]() {
            ClientResult& result = results[size_t(c)];
            HttpTestClient client(true);
            if (!client.connectTo(port)) {
                result.errors << QStringLiteral("client %1: no connection").arg(c);
                return;
            }
            for (int i = 0; i < requests; ++i, ++progress) {
                QByteArray request;
                QByteArray expected;
                if (i % JobEvery == JobEvery - 1) {
                    const QJsonObject body{{"printer", QString::fromUtf8(printerName)},
                                           {"job", receipt(c, result.jobs)}};
                    const QByteArray json = QJsonDocument(body).toJson(QJsonDocument::Compact);
                    request = "POST /sendJob HTTP/1.1\r\nHost: localhost\r\n" + auth +
                              "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(json.size()) +
                              "\r\n\r\n" + json;
                    expected = "Job completed successfully";
                } else if (i % 3 == 0) {
                    request = HttpTestClient::get("/getStatus", auth);
                } else if (i % 3 == 1) {
                    request = HttpTestClient::get("/getPrinters", auth);
                    expected = printerName;
                } else {
                    request = HttpTestClient::get("/getTpaStatus?tpa_port=ttyNone&terminal_tpa_id=load", auth);
                }
                if (!client.send(request)) {
                    result.errors << QStringLiteral("client %1 request %2: write failed").arg(c).arg(i);
                    return;
                }
                const HttpTestResponse response = client.readResponse(60000);
                const QJsonObject envelope = QJsonDocument::fromJson(response.body).object();
                const bool answered = response.complete && response.status == 200 && envelope.contains("status");
                const bool right = expected.isEmpty() || response.body.contains(expected);
                if (!answered || !right) {
                    result.errors << QStringLiteral("client %1 request %2: %3 %4")
                                         .arg(c)
                                         .arg(i)
                                         .arg(response.status)
                                         .arg(QString::fromUtf8(response.raw.left(200)));
                    return; // the connection's state is unknown now
                }
                if (!expected.isEmpty() && expected != printerName)
                    ++result.jobs;
                ++result.served;
            }
        }));
    }

    QElapsedTimer clock;
    clock.start();
    for (auto& thread : threads)
        thread->start();
    // The server lives on this thread: keep its event loop running. The
    // resident size is taken once a fifth of the requests are done (pool,
    // TLS sessions and caches are warm) and again at the end.
    const int total = Clients * requests;
    qint64 warm = -1;
    const bool finished = QTest::qWaitFor(
        [&]() {
            if (warm < 0 && progress >= total / 5)
                warm = residentKiB();
            for (auto& thread : threads) {
                if (!thread->isFinished())
                    return false;
            }
            return true;
        },
        600000);
    const qint64 elapsed = clock.elapsed();
    QVERIFY(finished);
    const qint64 end = residentKiB();

    int served = 0;
    int jobs = 0;
    QStringList errors;
    for (const ClientResult& result : results) {
        served += result.served;
        jobs += result.jobs;
        errors += result.errors;
    }
    QVERIFY2(errors.isEmpty(), qPrintable(errors.mid(0, 5).join('\n')));
    QCOMPARE(served, total);

    // Every job's bytes exactly once, none cut or mixed with another.
    QVERIFY(printer.waitForJobs(jobs, 180000));
    QTest::qWait(500); // nothing beyond them may follow
    QList<QByteArray> received = printer.jobs();
    QList<QByteArray> expected;
    for (int c = 0; c < Clients; ++c) {
        for (int j = 0; j < results[size_t(c)].jobs; ++j)
            expected << rendered(receipt(c, j));
    }
    std::sort(received.begin(), received.end());
    std::sort(expected.begin(), expected.end());
    QCOMPARE(received.size(), expected.size());
    QVERIFY(received == expected);

    qInfo("load: %d clients, %d requests served in %lld ms (%.0f/s), 0 errors, %d jobs checked byte for byte; "
          "resident %lld KiB warm, %lld KiB at the end",
          Clients, served, elapsed, served * 1000.0 / qMax<qint64>(1, elapsed), jobs, warm, end);
    // Sanitizer runtimes hold freed memory back on purpose; the figure means nothing there.
    if (qEnvironmentVariableIsEmpty("QLK_SANITIZER"))
        QVERIFY2(end - warm < 32 * 1024, qPrintable(QStringLiteral("grew by %1 KiB").arg(end - warm)));
}

QLK_TEST_MAIN_CORE(TestLoad)
#include "tst_load.moc"

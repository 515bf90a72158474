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
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>

namespace {

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    const QByteArray text = status.readAll();
    return text.mid(text.indexOf("VmRSS:") + 6).trimmed().split(' ').value(0).toLongLong();
}

// A receipt that names its client and number, long enough to span several
// writes to the spooler, so that interleaving would show.
QJsonArray receipt(int client, int number)
{
    const QString tag = QStringLiteral("client %1 receipt %2").arg(client).arg(number);
    QJsonArray job{QJsonObject{{"op", "text"}, {"data", tag + '\n'}}};
    for (int line = 0; line < 20; ++line)
        job.append(QJsonObject{{"op", "text"}, {"data", QStringLiteral("%1 line %2 Olá ção\n").arg(tag).arg(line)}});
    job.append(QJsonObject{{"op", "cut"}, {"data", "feed"}});
    return job;
}

} // namespace

class TestLoad : public QObject
{
    Q_OBJECT

private slots:
    void concurrentClients()
    {
        QLK_REQUIRE_CUPS();
        // 9,500 requests log some 50,000 debug lines, past what QtTest prints;
        // the figures at the end are what counts.
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        CapturePrinter printer(QStringLiteral("qlk-load"));
        QVERIFY2(printer.isValid(), qPrintable(printer.errorString()));
        ApiServer server;
        QVERIFY2(server.isValid(), qPrintable(server.errorString()));
        const QString name = printer.queueName();
        const auto target = [&]() { return server.printer(name); };
        QTRY_VERIFY_WITH_TIMEOUT(target(), 15000);
        target()->setAvailable(true);

        constexpr int Clients = 19;
        // The thread sanitizer run asks for fewer (it is ten times slower).
        const int requests =
            qEnvironmentVariableIsSet("QLK_LOAD_REQUESTS") ? qEnvironmentVariableIntValue("QLK_LOAD_REQUESTS") : 500;
        const QByteArray auth = "Authorization: Bearer " + server.keyBytes() + "\r\n";
        const quint16 port = server.port();
        std::atomic<int> progress{0};
        std::vector<int> jobs(Clients, 0);
        std::vector<QString> errors(Clients);
        std::vector<std::unique_ptr<QThread>> threads;
        for (int c = 0; c < Clients; ++c) {
            threads.emplace_back(QThread::create([&, c]() {
                HttpTestClient client(true);
                if (!client.connectTo(port))
                    errors[c] = QStringLiteral("client %1: no connection").arg(c);
                // In turn status, printers and terminal status; every 50th request a job.
                for (int i = 0; i < requests && errors[c].isEmpty(); ++i, ++progress) {
                    QByteArray request =
                        HttpTestClient::get("/getTpaStatus?tpa_port=ttyNone&terminal_tpa_id=load", auth);
                    QByteArray expected;
                    if (i % 50 == 49) {
                        const QByteArray json =
                            QJsonDocument(QJsonObject{{"printer", name}, {"job", receipt(c, jobs[c])}}).toJson();
                        request = "POST /sendJob HTTP/1.1\r\n" + auth + "Content-Type: application/json\r\n" +
                                  "Content-Length: " + QByteArray::number(json.size()) + "\r\n\r\n" + json;
                        expected = "Job completed successfully";
                    } else if (i % 3 == 0) {
                        request = HttpTestClient::get("/getStatus", auth);
                    } else if (i % 3 == 1) {
                        request = HttpTestClient::get("/getPrinters", auth);
                        expected = name.toUtf8();
                    }
                    const HttpTestResponse response =
                        client.send(request) ? client.readResponse(60000) : HttpTestResponse();
                    // After a failure the connection's state is unknown: this client stops.
                    if (response.status != 200 || !response.body.contains("\"status\"") ||
                        !response.body.contains(expected))
                        errors[c] = QString("client %1 request %2: %3")
                                        .arg(c)
                                        .arg(i)
                                        .arg(QString::fromUtf8(response.raw.left(200)));
                    else if (expected.startsWith("Job"))
                        ++jobs[c];
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
        QVERIFY(QTest::qWaitFor(
            [&]() {
                if (warm < 0 && progress >= total / 5)
                    warm = residentKiB();
                return std::all_of(threads.begin(), threads.end(), [](const auto& t) { return t->isFinished(); });
            },
            600000));
        const qint64 elapsed = clock.elapsed();
        const qint64 end = residentKiB();
        for (const QString& error : errors)
            QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(progress.load(), total);

        // Every job's bytes exactly once, none cut or mixed with another.
        QList<QByteArray> expected;
        for (int c = 0; c < Clients; ++c) {
            for (int j = 0; j < jobs[c]; ++j) {
                QBuffer buffer;
                buffer.open(QIODevice::WriteOnly);
                PrintJob(receipt(c, j), QStringLiteral("unused"), false).render(&buffer);
                expected << buffer.data();
            }
        }
        QVERIFY(printer.waitForJobs(expected.size(), 180000));
        QTest::qWait(500); // nothing beyond them may follow
        QList<QByteArray> received = printer.jobs();
        std::sort(received.begin(), received.end());
        std::sort(expected.begin(), expected.end());
        QVERIFY(received == expected);
        qInfo("load: %d clients, %d requests served in %lld ms (%.0f/s), 0 errors, %d jobs checked byte for byte; "
              "resident %lld KiB warm, %lld KiB at the end",
              Clients, total, elapsed, total * 1000.0 / qMax<qint64>(1, elapsed), int(expected.size()), warm, end);
        // Sanitizer runtimes hold freed memory back on purpose; the figure means nothing there.
        if (qEnvironmentVariableIsEmpty("QLK_SANITIZER"))
            QVERIFY2(end - warm < 32 * 1024, qPrintable(QStringLiteral("grew by %1 KiB").arg(end - warm)));
    }
};

QLK_TEST_MAIN_CORE(TestLoad)
#include "tst_load.moc"

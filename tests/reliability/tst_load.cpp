// A busy till: nothing fails, every job arrives whole, once and unmixed, and memory levels off.
#include "ReliabilityRig.h"
#include "support/ApiServer.h"
#include "support/CapturePrinter.h"
#include "support/TestMain.h"

#include <QLoggingCategory>

class TestLoad : public QObject
{
    Q_OBJECT

private slots:
    void concurrentClients()
    {
        QLK_REQUIRE_CUPS();
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); // some 50,000 lines
        CapturePrinter printer(QStringLiteral("qlk-load"));
        QVERIFY2(printer.isValid(), qPrintable(printer.errorString()));
        ApiServer server;
        const QString name = printer.queueName();
        QTRY_VERIFY_WITH_TIMEOUT(server.isValid() && server.printer(name), 15000);
        server.printer(name)->setAvailable(true);
        constexpr int Clients = 19;
        // The thread sanitizer run asks for fewer (it is ten times slower).
        const int requests =
            qEnvironmentVariableIsSet("QLK_LOAD_REQUESTS") ? qEnvironmentVariableIntValue("QLK_LOAD_REQUESTS") : 500;
        const QByteArray auth = "Authorization: Bearer " + server.keyBytes() + "\r\n";
        const auto receipt = [](int client, int job) {
            return Rig::receipt(QStringLiteral("client %1 receipt %2").arg(client).arg(job), 20);
        };
        std::atomic<int> progress{0};
        std::vector<int> jobs(Clients, 0);
        std::vector<QString> errors(Clients);
        std::vector<std::unique_ptr<QThread>> threads;
        for (int c = 0; c < Clients; ++c) {
            threads.emplace_back(QThread::create([&, c]() {
                HttpTestClient client(true);
                if (!client.connectTo(server.port()))
                    errors[c] = "no connection";
                for (int i = 0; i < requests && errors[c].isEmpty(); ++i, ++progress) {
                    const bool job = i % 50 == 49;
                    const QByteArray request =
                        job          ? Rig::sendJob(auth, name, receipt(c, jobs[c]))
                        : i % 3 == 0 ? HttpTestClient::get("/getStatus", auth)
                        : i % 3 == 1 ? HttpTestClient::get("/getPrinters", auth)
                                     : HttpTestClient::get("/getTpaStatus?tpa_port=ttyNone&terminal_tpa_id=load", auth);
                    const QByteArray expected = job ? "Job completed successfully" : i % 3 == 1 ? name.toUtf8() : "";
                    const HttpTestResponse response =
                        client.send(request) ? client.readResponse(60000) : HttpTestResponse();
                    // After a failure the connection's state is unknown: this client stops.
                    if (response.status != 200 || !response.body.contains("\"status\"") ||
                        !response.body.contains(expected))
                        errors[c] = QString("request %1: %2").arg(i).arg(QString(response.raw.left(200)));
                    else if (job)
                        ++jobs[c];
                }
            }));
            threads.back()->start();
        }
        // The server lives on this thread. Memory is taken once a fifth is done (pool, caches warm) and at the end.
        const int total = Clients * requests;
        qint64 warm = -1;
        QVERIFY(QTest::qWaitFor(
            [&]() {
                if (warm < 0 && progress >= total / 5)
                    warm = Rig::residentKiB();
                return std::all_of(threads.begin(), threads.end(), [](const auto& t) { return t->isFinished(); });
            },
            600000));
        const qint64 end = Rig::residentKiB();
        QList<QByteArray> expected;
        for (int c = 0; c < Clients; ++c) {
            QVERIFY2(errors[c].isEmpty(), qPrintable(QStringLiteral("client %1: %2").arg(c).arg(errors[c])));
            for (int j = 0; j < jobs[c]; ++j)
                expected << RenderSupport::render(receipt(c, j));
        }
        QVERIFY(printer.waitForJobs(expected.size(), 180000));
        QTest::qWait(500); // nothing beyond them may follow
        QList<QByteArray> received = printer.jobs();
        std::sort(received.begin(), received.end());
        std::sort(expected.begin(), expected.end());
        QVERIFY(received == expected);
        // Sanitizer runtimes hold freed memory back on purpose; the figure means nothing there.
        if (qEnvironmentVariableIsEmpty("QLK_SANITIZER"))
            QVERIFY2(end - warm < 32 * 1024, qPrintable(QStringLiteral("grew by %1 KiB").arg(end - warm)));
    }
};

QLK_TEST_MAIN_CORE(TestLoad)
#include "tst_load.moc"

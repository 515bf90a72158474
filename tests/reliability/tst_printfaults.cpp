// Printing around stopped queues and a killed program, on a CUPS scheduler of its own.
#include "ReliabilityRig.h"
#include "support/ApiServer.h"
#include "support/CapturePrinter.h"
#include "support/ImageServer.h"
#include "support/PrivateScheduler.h"
#include "support/ProgramRunner.h"
#include "support/TestMain.h"

using Rig::receipt;

class TestPrintFaults : public QObject
{
    Q_OBJECT
    PrivateScheduler m_scheduler;

private slots:
    void initTestCase()
    {
        QLK_REQUIRE_PART(PrivateScheduler::problem());
        QVERIFY2(m_scheduler.start(), qPrintable(m_scheduler.errorString()));
    }

    // A stopped queue would print later: the till hears "offline", that job never prints, later ones do.
    void queueStoppedBetweenJobs_data()
    {
        QTest::addColumn<QString>("stop"); // empty: the scheduler stopped and started again
        QTest::addColumn<QString>("resume");
        QTest::newRow("disabled") << QString("cupsdisable") << QString("cupsenable");
        QTest::newRow("rejecting jobs") << QString("cupsreject") << QString("cupsaccept");
        QTest::newRow("scheduler restarted") << QString() << QString();
    }
    void queueStoppedBetweenJobs()
    {
        QFETCH(QString, stop);
        QFETCH(QString, resume);
        CapturePrinter capture(QStringLiteral("qlk-stopped"));
        QVERIFY2(capture.isValid(), qPrintable(capture.errorString()));
        ApiServer server;
        QTRY_VERIFY_WITH_TIMEOUT(server.isValid() && server.printer(capture.queueName()), 15000);
        const std::shared_ptr<Printer> printer = server.printer(capture.queueName());
        printer->setAvailable(true);
        const auto send = [&](const QString& tag) {
            return server.client()
                .postJson("/sendJob", QJsonObject{{"printer", capture.queueName()}, {"job", receipt(tag)}},
                          server.bearer())
                .json();
        };
        const QJsonObject printed{{"status", true}, {"data", "Job completed successfully"}};
        QCOMPARE(send("first"), printed);
        // A queue stopped in the middle of a job prints it again later: let it finish.
        QTRY_VERIFY_WITH_TIMEOUT(!capture.queue().jobs().isEmpty() && capture.queue().jobs().constLast().state == 9,
                                 30000);
        QString error;
        if (stop.isEmpty())
            m_scheduler.stop();
        else
            QVERIFY2(CupsQueue::run(stop, {capture.queueName()}, &error), qPrintable(error));
        QVERIFY(!printer->state()); // the list shows it off, not only the job's answer
        QCOMPARE(send("while stopped"),
                 (QJsonObject{{"status", false}, {"error", "Printer offline or in error state"}}));
        if (stop.isEmpty())
            QVERIFY2(m_scheduler.start(), qPrintable(m_scheduler.errorString()));
        else
            QVERIFY2(CupsQueue::run(resume, {capture.queueName()}, &error), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(printer->state(), 30000);
        QCOMPARE(send("after"), printed);
        QVERIFY(capture.waitForJobs(2));
        QTest::qWait(1000);
        QCOMPARE(capture.jobs(),
                 (QList<QByteArray>{RenderSupport::render(receipt("first")), RenderSupport::render(receipt("after"))}));
    }

    // Killed mid-job: the part sent never prints; after a restart settings, key and printing are intact.
    void killedDuringJob()
    {
        QVERIFY2(!ProgramRunner::programPath().isEmpty(), "QLK_PROGRAM is not set");
        CapturePrinter capture(QStringLiteral("qlk-killed"));
        QVERIFY2(capture.isValid(), qPrintable(capture.errorString()));
        ProgramRunner program;
        const QString key = QStringLiteral("Kx7pQ2mZv4.0"), printerKey = Printer::settingsKey(capture.queueName());
        program.configure(
            {{"securityKey", key}, {"licenseAccepted", true}, {"serverActive", true}, {printerKey, true}});
        const QByteArray auth = "Authorization: Bearer " + key.toUtf8() + "\r\n";
        const auto serving = [&] {
            const QByteArray name = capture.queueName().toUtf8();
            return QTest::qWaitFor([&] { return program.keyedGet("/getPrinters", 5000).body.contains(name); }, 30000);
        };
        program.start();
        QVERIFY(serving());
        // A job that waits for an image which never comes: held open in the scheduler, part sent.
        ImageServer images;
        QVERIFY(images.start());
        images.serve(QStringLiteral("/held.png"), {}, 0);
        QJsonArray held = receipt(QStringLiteral("killed"), 3);
        held.insert(2, QJsonObject{{"op", "image"}, {"data", images.url(QStringLiteral("/held.png"))}});
        HttpTestClient client(true, program.certificates());
        QVERIFY(client.connectTo(program.port()) && client.send(Rig::sendJob(auth, capture.queueName(), held)));
        QVERIFY(QTest::qWaitFor( // pending or held: still arriving
            [&] { return capture.queue().jobs().size() == 1 && capture.queue().jobs().first().state < 5; }, 8000));
        program.process().kill();
        QVERIFY(program.process().waitForFinished(10000));

        QTest::qWait(6000); // the killed one's single-instance stamp ages
        program.start();
        QVERIFY(serving());
        const QJsonArray after = receipt(QStringLiteral("after the restart"));
        QVERIFY(program.ask(Rig::sendJob(auth, capture.queueName(), after), 30000)
                    .body.contains("Job completed successfully"));
        QVERIFY2(program.stop(10000), "no clean exit on SIGTERM");
        const QSettings settings = program.settings();
        QCOMPARE(settings.value(QStringLiteral("securityKey")).toString(), key);
        QVERIFY(settings.value(printerKey).toBool() && settings.value(QStringLiteral("licenseAccepted")).toBool());
        QVERIFY(capture.waitForJobs(1));
        QTest::qWait(2000);
        QCOMPARE(capture.jobs(), QList<QByteArray>{RenderSupport::render(after)});
    }
};

QLK_TEST_MAIN_CORE(TestPrintFaults)
#include "tst_printfaults.moc"

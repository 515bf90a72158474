// Payment terminals on pseudo-terminals: the protocol workers of both families, and Tpa with its thread.
#include "support/PtyLink.h"
#include "support/TerminalTestSupport.h"
#include "support/TestMain.h"
#include "terminals/Tpa.h"
#include "terminals/TpaMessages.h"
#include "terminals/TpaStatus.h"
#include "terminals/TpaWorkerIngenico.h"
#include "terminals/TpaWorkerNewnote.h"

using Outcome = TerminalSimulator::Outcome;

namespace {

const auto fromHex = [](const char* text) { return QByteArray::fromHex(text); };
const QString CallerA = QStringLiteral("pos-a");
const auto commandFor = [](int type) { return QByteArray(type == 2 ? "S00010000011" : "P001001333049782"); };

std::unique_ptr<Tpa> makeTpa(int type, const QString& path, const TpaTimings& timings = TerminalTest::timings())
{
    return std::make_unique<Tpa>(SerialPortDescription::simulated(path, type == 2 ? 0x0403 : 0x0B00, 0x0060), type,
                                 nullptr, timings);
}

// A worker on the test's thread; its reports in order: "last:", "tx:" or "in:" and the value.
struct Rig
{
    // Starts the worker; with answered, waits until its first poll is answered and acknowledged.
    bool start(bool answered = true, int transactionMs = 1200)
    {
        sim.setStepInterval(20);
        TpaTimings timings = TerminalTest::timings();
        timings.transaction = transactionMs;
        if (!sim.open())
            return false;
        const SerialPortDescription port = SerialPortDescription::simulated(sim.portPath(), 0x0B00, 0x0060);
        worker = type == 2 ? std::unique_ptr<TpaWorker>(std::make_unique<TpaWorkerNewnote>(port, timings))
                           : std::make_unique<TpaWorkerIngenico>(port, timings);
        QObject::connect(worker.get(), &TpaWorker::setLastStatus, [this](QString s) { reports << "last:" + s; });
        QObject::connect(worker.get(), &TpaWorker::setLastTransactionStatus,
                         [this](QString s) { reports << "tx:" + s; });
        QObject::connect(worker.get(), &TpaWorker::setInTransactionChanged,
                         [this](bool in) { reports << QStringLiteral("in:%1").arg(in); });
        worker->startWorker();
        if (!answered)
            return TerminalTest::waitForMessage(sim, TerminalSimulator::statusRequest(type));
        const bool polled =
            QTest::qWaitFor([this] { return !reports.isEmpty() && sim.received().endsWith(TerminalSimulator::ACK); });
        sim.clearReceived();
        reports.clear();
        return polled && worker->isPortOpen();
    }

    int type;
    TerminalSimulator sim{type};
    QStringList reports{};
    std::unique_ptr<TpaWorker> worker{}; // last: its reports go to the members above
};

} // namespace

class TestTerminals : public QObject
{
    Q_OBJECT

private slots:
    void receive_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QByteArray>("answer"); // what the worker writes, exactly
        QTest::addColumn<QStringList>("reports");
        const QByteArray ack = fromHex("06");
        QTest::newRow("1 bad check byte") << 1 << QByteArray("M001HELLO") << "bad" << fromHex("15") << QStringList();
        QTest::newRow("1 ends at a zero byte")
            << 1 << QByteArray("M001AB\0CD", 9) << "good" << ack << QStringList{"tx:M001AB"};
        // M025 is confirmed with the framed message M025000.
        QTest::newRow("1 M025 answered") << 1 << QByteArray("M025OK") << "good" << ack + fromHex("024d3032353030300349")
                                         << QStringList{"tx:M025OK"};
        // The DLE before ETX is collected with the frame and removed from the text.
        QTest::newRow("2 status answer") << 2 << QByteArray("M00100") << "good" << ack << QStringList{"last:M00100"};
        const QByteArray tagged = "D000PAGO" + fromHex("9f0208") + "00001250" + fromHex("9f1c00") + "(T)!";
        QTest::newRow("2 tag bytes removed") << 2 << tagged << "good" << ack << QStringList{"tx:D000PAGO00001250(T"};
        // Newnote's commands byte for byte (the simulator checks the other framings itself).
        const QStringList sent{"tx:" + TpaStatus::CommandAdded, "in:1"};
        QTest::newRow("2 open sent") << 2 << TpaMessages::open(2) << "command"
                                     << fromHex("1002533030303130303030303131100371") << sent;
        QTest::newRow("2 purchase sent") << 2 << TpaMessages::purchase(2, "12.50") << "command"
                                         << fromHex("100243303030313030303030303030303132353030303030313030300b9f1c009a"
                                                    "009f21009f0200100357")
                                         << sent;
        QTest::newRow("2 refund sent")
            << 2 << TpaMessages::refund(2, "REF123", "2024-03-01 14:05:09", "12,50") << "command"
            << fromHex("10024330303231303030303030303030313235305245463132333230323430333031313430"
                       "35303931313010033b")
            << sent;
    }
    void receive()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, message);
        QFETCH(QString, mode);
        QFETCH(QByteArray, answer);
        Rig rig{type};
        rig.sim.setOutcomes({Outcome::Silence}); // nothing follows a command on the line
        QVERIFY2(rig.start(), qPrintable(rig.sim.errorString()));
        if (mode == "command")
            rig.worker->setNewCommand(message);
        else if (mode == "bad")
            rig.sim.writeRaw(TerminalSimulator::frame(type, message, true));
        else
            rig.sim.sendMessage(message);
        QTRY_COMPARE(rig.sim.received().toHex(' '), answer.toHex(' '));
        QTest::qWait(50); // a report comes in the same step as the acknowledgement; give stray ones a moment
        QCOMPARE(rig.sim.received().toHex(' '), answer.toHex(' '));
        QTEST(rig.reports, "reports");
    }

    // Newnote has no menu and no reprint: nothing is sent, and nobody is told the terminal is busy.
    void newnoteHasNoMenu()
    {
        auto tpa = makeTpa(2, QStringLiteral("/nonexistent/ttyN"));
        tpa->sendOpenMenu(CallerA);
        tpa->sendReprintLastReceipt(CallerA);
        QVERIFY(!tpa->isInTransaction());
        QVERIFY(tpa->statusFor(QStringLiteral("pos-b")) != TpaStatus::Busy);
    }

    // A silent, giving-up or unwritable terminal ends in a timeout; a late poll answer is not the end.
    void transactionEnds_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<int>("writeTimeouts");
        QTest::addColumn<QByteArray>("latePoll"); // the poll's answer, sent after the command
        QTest::addColumn<QString>("beforeEnd");   // the report before the timeout
        QTest::newRow("1 silent") << 1 << Outcome::Silence << 0 << QByteArray() << "in:1";
        QTest::newRow("1 terminal gives up") << 1 << Outcome::TerminalTimeout << 0 << QByteArray() << "tx:M01101";
        QTest::newRow("2 write retries run out") << 2 << Outcome::Silence << 4 << QByteArray() << "in:1";
        QTest::newRow("2 poll answered late") << 2 << Outcome::Silence << 0 << QByteArray("M00100") << "last:M00100";
    }
    void transactionEnds()
    {
        QFETCH(int, type);
        QFETCH(Outcome, outcome);
        QFETCH(int, writeTimeouts);
        QFETCH(QByteArray, latePoll);
        QFETCH(QString, beforeEnd);
        Rig rig{type};
        rig.sim.setAnswerPolls(latePoll.isEmpty());
        rig.sim.setOutcomes({outcome});
        // A long transaction where the terminal's answer or the write retries, not the timer, must end it.
        QVERIFY(rig.start(latePoll.isEmpty(), outcome == Outcome::Silence && !writeTimeouts ? 1200 : 60000));
        rig.worker->setNewCommand(commandFor(type));
        QVERIFY(TerminalTest::waitForMessage(rig.sim, commandFor(type)));
        if (!latePoll.isEmpty())
            rig.sim.sendMessage(latePoll);
        // Write timeouts come through the port's error signal (the Windows driver's; a pty never does).
        for (int timeout = 1; timeout <= writeTimeouts; ++timeout) {
            rig.worker->errorOcurred(QSerialPort::TimeoutError);
            QVERIFY(timeout == writeTimeouts || TerminalTest::waitForMessage(rig.sim, commandFor(type), 1 + timeout));
        }
        QTRY_VERIFY_WITH_TIMEOUT(rig.reports.contains("in:0"), 10000);
        QTest::qWait(100);
        QCOMPARE(rig.reports.mid(rig.reports.size() - 3), (QStringList{beforeEnd, "tx:" + TpaStatus::Timeout, "in:0"}));
        QCOMPARE(rig.sim.messages().count(commandFor(type)), qMax(1, writeTimeouts));
    }

    // Callers and their queues are bounded; on a dead port each command times out at once.
    void callersBounded()
    {
        auto tpa = makeTpa(1, QStringLiteral("/nonexistent/ttyB"));
        const auto idle = [&] { return QTest::qWaitFor([&] { return !tpa->isInTransaction(); }, 10000); };
        const auto command = [&](const QString& caller) { QVERIFY(tpa->sendOpen(caller) == Tpa::Sent && idle()); };
        const auto take = [&](const QString& caller) { return tpa->takeTransactionStatuses(caller); };
        const QStringList timedOut{TpaStatus::Timeout};
        // A terminal that talks on: its caller keeps the newest statuses.
        QCOMPARE(tpa->sendOpen(QStringLiteral("chatty")), Tpa::Sent);
        for (int i = 0; i < Tpa::MaxStatusesPerCaller + 50; ++i)
            tpa->onSetTransactionStatus(QString::number(i));
        QVERIFY(idle());
        QStringList newest;
        for (int i = 51; i < Tpa::MaxStatusesPerCaller + 50; ++i)
            newest << QString::number(i);
        QCOMPARE(take(QStringLiteral("chatty")), newest << TpaStatus::Timeout);
        // Full of callers with statuses waiting: the least recently seen one's go.
        for (int i = 0; i < Tpa::MaxCallers; ++i)
            command(QStringLiteral("c%1").arg(i));
        tpa->statusFor(QStringLiteral("c0")); // seen again
        command(QStringLiteral("new"));
        QCOMPARE(take(QStringLiteral("c1")), QStringList());
        for (const char* kept : {"c0", "c2", "new"})
            QCOMPARE(take(kept), timedOut);
        // One with nothing waiting (c0, just read) makes room before an older one with statuses (c3).
        command(QStringLiteral("newer"));
        QCOMPARE(take(QStringLiteral("c3")), timedOut);
        // Reads under a thousand made-up ids push out no caller's statuses.
        for (int i = 0; i < 1000; ++i)
            QCOMPARE(take(QStringLiteral("reader%1").arg(i)), QStringList());
        for (const char* kept : {"c4", "newer"})
            QCOMPARE(take(kept), timedOut);
    }

    // A terminal plugged in after the start, gone in the middle of a transaction, back on the same path.
    void portComesAndGoes()
    {
        TpaTimings timings = TerminalTest::timings();
        timings.transaction = 60000; // the loss of the port, not the timer, must end a transaction
        timings.idlePoll = 300;      // the interval of the attempts to open the port again
        PtyLink link;
        auto tpa = makeTpa(1, link.path(), timings);
        const auto finish = [&] { // the caller's last status once the transaction has ended
            const bool ended = QTest::qWaitFor([&] { return !tpa->isInTransaction(); });
            const QStringList s = tpa->takeTransactionStatuses(CallerA);
            return ended ? s.value(s.size() - 1) : QStringLiteral("still running");
        };
        for (int round = 0; round < 2; ++round) {
            TerminalSimulator sim(1);
            sim.setStepInterval(20);
            sim.setOutcomes({Outcome::Approve, Outcome::Silence});
            QVERIFY(sim.open() && link.pointTo(sim.portPath()));
            QVERIFY(TerminalTest::waitForMessage(sim, TerminalSimulator::statusRequest(1)));
            tpa->sendPurchase(CallerA, QStringLiteral("1.00"));
            QCOMPARE(finish(), QStringLiteral("P1510000000100"));
            tpa->sendPurchase(CallerA, QStringLiteral("3.00"));
            QVERIFY(TerminalTest::waitForMessage(sim, "P05100133304978200000300"));
            sim.closeMaster(); // the device is unplugged
            link.unlink();
            QCOMPARE(finish(), TpaStatus::Timeout);
        }
    }

    // Gone from the list, a Tpa stops its worker and frees the device for the one that replaces it.
    void destructionReleasesThePort()
    {
        TerminalSimulator sim(1);
        QVERIFY(sim.open());
        for (int replaced = 0; replaced < 2; ++replaced) { // a port still held is locked: the second could not open it
            const auto tpa = makeTpa(1, sim.portPath());
            QTRY_COMPARE(tpa->lastStatus(), QStringLiteral("M00000")); // its port is open
        }
    }
};

QLK_TEST_MAIN_CORE(TestTerminals)
#include "tst_terminals.moc"

// The protocol workers of both families against a terminal played on a pseudo-terminal.

#include "support/TerminalTestSupport.h"
#include "support/TestMain.h"
#include "terminals/TpaStatus.h"
#include "terminals/TpaWorkerIngenico.h"
#include "terminals/TpaWorkerNewnote.h"

#include <memory>

using Outcome = TerminalSimulator::Outcome;
using TerminalTest::hex;
using TerminalTest::waitForMessage;

namespace {

QByteArray commandFor(int family)
{
    return family == 2 ? QByteArrayLiteral("S00010000011") : QByteArrayLiteral("P001001333049782");
}

// The worker on the test's thread and the spies on its reports.
struct Rig
{
    explicit Rig(int family, int transactionMs = 1200)
        : family(family)
        , sim(family)
    {
        sim.setStepInterval(20);
        if (!sim.open())
            return;
        TpaTimings timings = TerminalTest::timings();
        timings.transaction = transactionMs;
        const SerialPortDescription port = SerialPortDescription::simulated(sim.portPath(), 0x0B00, 0x0060);
        if (family == 2)
            worker = std::make_unique<TpaWorkerNewnote>(port, timings);
        else
            worker = std::make_unique<TpaWorkerIngenico>(port, timings);
        lastStatus = std::make_unique<QSignalSpy>(worker.get(), &TpaWorker::setLastStatus);
        transactionStatus = std::make_unique<QSignalSpy>(worker.get(), &TpaWorker::setLastTransactionStatus);
        inTransaction = std::make_unique<QSignalSpy>(worker.get(), &TpaWorker::setInTransactionChanged);
    }

    // Starts the worker; with polled, waits until its first poll is answered and acknowledged.
    bool start(bool polled = true)
    {
        if (!worker)
            return false;
        worker->startWorker();
        if (!polled)
            return waitForMessage(sim, TerminalSimulator::statusRequest(family));
        const bool answered = QTest::qWaitFor(
            [this]() { return !lastStatus->isEmpty() && sim.received().endsWith(TerminalSimulator::ACK); }, 10000);
        sim.clearReceived();
        lastStatus->clear();
        return answered && worker->isPortOpen();
    }

    static QString last(const QSignalSpy& spy, int fromEnd = 1)
    {
        return spy.size() < fromEnd ? QString() : spy.at(spy.size() - fromEnd).at(0).toString();
    }
    bool endedTransaction() const { return !inTransaction->isEmpty() && !inTransaction->last().at(0).toBool(); }

    int family;
    TerminalSimulator sim;
    std::unique_ptr<TpaWorker> worker;
    std::unique_ptr<QSignalSpy> lastStatus;
    std::unique_ptr<QSignalSpy> transactionStatus;
    std::unique_ptr<QSignalSpy> inTransaction;
};

} // namespace

class TestTpaWorker : public QObject
{
    Q_OBJECT

private slots:
    void receive_data()
    {
        QTest::addColumn<int>("family");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QByteArray>("answer");  // what the worker writes back, exactly
        QTest::addColumn<QString>("reportedAs"); // "last", "transaction" or "none"
        QTest::addColumn<QString>("text");
        const QByteArray ack = hex("06"), nak = hex("15");
        QTest::newRow("1 good frame") << 1 << QByteArray("M001HELLO") << "good" << ack << "transaction"
                                      << "M001HELLO";
        QTest::newRow("1 bad check byte") << 1 << QByteArray("M001HELLO") << "bad" << nak << "none"
                                          << "";
        QTest::newRow("1 split over three reads") << 1 << QByteArray("M001HELLO") << "split" << ack << "transaction"
                                                  << "M001HELLO";
        QTest::newRow("1 noise before STX") << 1 << QByteArray("M001HELLO") << "garbage" << ack << "transaction"
                                            << "M001HELLO";
        QTest::newRow("1 status answer") << 1 << QByteArray("M00000") << "good" << ack << "last"
                                         << "M00000";
        QTest::newRow("1 text ends at a zero byte")
            << 1 << QByteArray("M001AB\0CD", 9) << "good" << ack << "transaction"
            << "M001AB";
        // M025 is confirmed with the framed message M025000.
        QTest::newRow("1 M025 answered") << 1 << QByteArray("M025CONFIRME") << "good"
                                         << ack + hex("024d3032353030300349") << "transaction"
                                         << "M025CONFIRME";
        // A frame that never ends is dropped past 64 KiB and asked for again, once.
        QTest::newRow("1 endless frame") << 1 << QByteArray(1024, 'A') << "endless" << nak << "none"
                                         << "";
        QTest::newRow("2 good frame") << 2 << QByteArray("D000TEXTO") << "good" << ack << "transaction"
                                      << "D000TEXTO";
        // The DLE before ETX is collected with the frame and removed from the text.
        QTest::newRow("2 status answer") << 2 << QByteArray("M00100") << "good" << ack << "last"
                                         << "M00100";
        QTest::newRow("2 tag bytes removed") << 2
                                             << QByteArray("D000PAGO\x9F\x02\x08"
                                                           "00001250\x9F\x1C\x00(T)!",
                                                           26)
                                             << "good" << ack << "transaction"
                                             << "D000PAGO00001250(T";
    }
    void receive()
    {
        QFETCH(int, family);
        QFETCH(QByteArray, message);
        QFETCH(QString, mode);
        QFETCH(QByteArray, answer);
        QFETCH(QString, reportedAs);
        Rig rig(family);
        QVERIFY2(rig.start(), qPrintable(rig.sim.errorString()));
        rig.transactionStatus->clear();
        if (mode == "bad")
            rig.sim.writeRaw(TerminalSimulator::frame(family, message, true));
        else if (mode == "endless") {
            rig.sim.writeRaw(QByteArray(1, TerminalSimulator::STX));
            for (int i = 0; i < 100; ++i, QTest::qWait(10)) // 100 KiB, paced to what the line takes
                rig.sim.writeRaw(message);
        } else
            rig.sim.sendMessage(message, mode == "split"     ? Outcome::SplitFrames
                                         : mode == "garbage" ? Outcome::Garbage
                                                             : Outcome::Approve);
        QTRY_COMPARE(rig.sim.received().toHex(' '), answer.toHex(' '));
        QTest::qWait(50); // a report comes in the same step as the acknowledgement; give stray ones a moment
        QCOMPARE(rig.sim.received().toHex(' '), answer.toHex(' '));
        QCOMPARE(rig.lastStatus->count(), reportedAs == "last" ? 1 : 0);
        QCOMPARE(rig.transactionStatus->count(), reportedAs == "transaction" ? 1 : 0);
        if (reportedAs != "none")
            QTEST(Rig::last(reportedAs == "last" ? *rig.lastStatus : *rig.transactionStatus), "text");
    }

    void commandWaitsForPollAnswer()
    {
        Rig rig(1);
        rig.sim.setAnswerPolls(false);
        rig.sim.setOutcomes({Outcome::Silence});
        QVERIFY(rig.start(false));
        const QByteArray purchase("P05100133304978200001250");
        rig.worker->setNewCommand(purchase);
        QCOMPARE(Rig::last(*rig.transactionStatus), TpaStatus::CommandAdded);
        // A second command while the first waits, or runs, is refused and never written.
        rig.worker->setNewCommand(commandFor(1));
        QCOMPARE(Rig::last(*rig.transactionStatus), TpaStatus::CommandRefused);
        QTest::qWait(300);
        QCOMPARE(TerminalTest::count(rig.sim, purchase), 0);

        // The answer to the outstanding poll releases the command.
        rig.sim.sendMessage("M00000");
        QVERIFY(waitForMessage(rig.sim, purchase));
        QCOMPARE(rig.inTransaction->count(), 1);
        QCOMPARE(TerminalTest::count(rig.sim, commandFor(1)), 0);
    }

    // This family sends a command without waiting for the poll's answer, so that
    // answer may come during the transaction: it is the poll's, not the end.
    void newnoteLatePollAnswer()
    {
        Rig rig(2, 60000);
        rig.sim.setAnswerPolls(false);
        rig.sim.setOutcomes({Outcome::Silence});
        QVERIFY(rig.start(false));
        rig.worker->setNewCommand(commandFor(2));
        QVERIFY(waitForMessage(rig.sim, commandFor(2)));
        rig.sim.sendMessage("M00100");
        QTRY_COMPARE(rig.lastStatus->count(), 1);
        QVERIFY(rig.worker->inTransaction());
        rig.sim.sendMessage("S00000");
        QTRY_VERIFY(rig.endedTransaction());
    }

    // A transaction ends in a timeout when the terminal stays silent past the transaction
    // timer, gives up itself ("M01101"), or the command cannot be written after three retries.
    void transactionEnds_data()
    {
        QTest::addColumn<int>("family");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<int>("transactionMs");
        QTest::addColumn<int>("writeTimeouts");
        QTest::addColumn<QString>("beforeTimeout");
        QTest::newRow("1 silent") << 1 << Outcome::Silence << 1200 << 0 << TpaStatus::CommandAdded;
        QTest::newRow("1 terminal gives up") << 1 << Outcome::TerminalTimeout << 60000 << 0 << "M01101";
        QTest::newRow("2 write retries run out") << 2 << Outcome::Silence << 60000 << 4 << TpaStatus::CommandAdded;
    }
    void transactionEnds()
    {
        QFETCH(int, family);
        QFETCH(Outcome, outcome);
        QFETCH(int, transactionMs);
        QFETCH(int, writeTimeouts);
        Rig rig(family, transactionMs);
        rig.sim.setOutcomes({outcome});
        QVERIFY(rig.start());
        const QByteArray command = commandFor(family);
        rig.worker->setNewCommand(command);
        QVERIFY(waitForMessage(rig.sim, command));
        // The caller must hold the timeout by the time it is told the transaction is over.
        QString statusAtEnd;
        QObject context; // goes before rig and statusAtEnd
        QObject::connect(rig.worker.get(), &TpaWorker::setInTransactionChanged, &context, [&](bool in) {
            if (!in)
                statusAtEnd = Rig::last(*rig.transactionStatus);
        });
        // The port reports write timeouts through its error signal (the Windows driver
        // does; a pseudo-terminal never does), delivered here the same way.
        for (int timeout = 1; timeout <= writeTimeouts; ++timeout) {
            rig.worker->errorOcurred(QSerialPort::TimeoutError);
            QVERIFY(timeout == writeTimeouts || waitForMessage(rig.sim, command, 1 + timeout));
        }
        QTRY_VERIFY_WITH_TIMEOUT(rig.endedTransaction(), 10000);
        QCOMPARE(statusAtEnd, TpaStatus::Timeout);
        QTEST(Rig::last(*rig.transactionStatus, 2), "beforeTimeout");
        QTest::qWait(100);
        QCOMPARE(TerminalTest::count(rig.sim, command), qMax(1, writeTimeouts));
    }
};

QLK_TEST_MAIN_CORE(TestTpaWorker)
#include "tst_tpaworker.moc"

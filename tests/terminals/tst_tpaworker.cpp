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

TpaTimings timings(int transactionMs)
{
    TpaTimings t = TerminalTest::timings();
    t.transaction = transactionMs;
    return t;
}

// The worker on the test's thread and the spies on its reports.
struct Rig
{
    explicit Rig(int family, const TpaTimings& timings = TerminalTest::timings())
        : sim(family)
    {
        sim.setStepInterval(20);
        if (!sim.open())
            return;
        const SerialPortDescription port = SerialPortDescription::simulated(sim.portPath(), 0x0B00, 0x0060);
        if (family == 2)
            worker = std::make_unique<TpaWorkerNewnote>(port, timings);
        else
            worker = std::make_unique<TpaWorkerIngenico>(port, timings);
        lastStatus = std::make_unique<QSignalSpy>(worker.get(), &TpaWorker::setLastStatus);
        transactionStatus = std::make_unique<QSignalSpy>(worker.get(), &TpaWorker::setLastTransactionStatus);
        inTransaction = std::make_unique<QSignalSpy>(worker.get(), &TpaWorker::setInTransactionChanged);
    }

    // Starts the worker and waits until its first poll is answered and acknowledged.
    bool start()
    {
        if (!worker)
            return false;
        worker->startWorker();
        const bool polled = QTest::qWaitFor(
            [this]() { return !lastStatus->isEmpty() && sim.received().endsWith(TerminalSimulator::ACK); }, 10000);
        sim.clearReceived();
        lastStatus->clear();
        return polled && worker->isPortOpen();
    }

    QString last(const QSignalSpy& spy, int fromEnd = 1) const
    {
        return spy.size() < fromEnd ? QString() : spy.at(spy.size() - fromEnd).at(0).toString();
    }
    bool endedTransaction() const { return !inTransaction->isEmpty() && !inTransaction->last().at(0).toBool(); }

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
    void receive_data();
    void receive();
    void commandWaitsForPollAnswer();
    void newnoteLatePollAnswer();
    void transactionEnds_data();
    void transactionEnds();
    void pollWriteTimeout_data()
    {
        QTest::addColumn<int>("family");
        QTest::newRow("Ingenico") << 1;
        QTest::newRow("Newnote") << 2;
    }
    void pollWriteTimeout();
};

void TestTpaWorker::receive_data()
{
    QTest::addColumn<int>("family");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QByteArray>("answer");  // what the worker writes back, exactly
    QTest::addColumn<QString>("reportedAs"); // "last", "transaction" or "none"
    QTest::addColumn<QString>("text");

    const QByteArray ack = hex("06");
    const QByteArray nak = hex("15");
    const QByteArray hello = "M001HELLO";
    const QByteArray texto = "D000TEXTO";
    QTest::newRow("1 good frame") << 1 << hello << "good" << ack << "transaction"
                                  << "M001HELLO";
    QTest::newRow("1 bad check byte") << 1 << hello << "bad" << nak << "none"
                                      << "";
    QTest::newRow("1 bad, then sent again") << 1 << hello << "badThenGood" << nak + ack << "transaction"
                                            << "M001HELLO";
    QTest::newRow("1 split over three reads") << 1 << hello << "split" << ack << "transaction"
                                              << "M001HELLO";
    QTest::newRow("1 noise before STX") << 1 << hello << "garbage" << ack << "transaction"
                                        << "M001HELLO";
    QTest::newRow("1 status answer") << 1 << QByteArray("M00000") << "good" << ack << "last"
                                     << "M00000";
    QTest::newRow("1 text ends at a zero byte") << 1 << QByteArray("M001AB\0CD", 9) << "good" << ack << "transaction"
                                                << "M001AB";
    // M025 is confirmed with the framed message M025000.
    QTest::newRow("1 M025 answered") << 1 << QByteArray("M025CONFIRME") << "good" << ack + hex("024d3032353030300349")
                                     << "transaction"
                                     << "M025CONFIRME";
    QTest::newRow("2 good frame") << 2 << texto << "good" << ack << "transaction"
                                  << "D000TEXTO";
    QTest::newRow("2 bad check byte") << 2 << texto << "bad" << nak << "none"
                                      << "";
    QTest::newRow("2 split over three reads") << 2 << texto << "split" << ack << "transaction"
                                              << "D000TEXTO";
    QTest::newRow("2 noise before DLE STX") << 2 << texto << "garbage" << ack << "transaction"
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

void TestTpaWorker::receive()
{
    QFETCH(int, family);
    QFETCH(QByteArray, message);
    QFETCH(QString, mode);
    QFETCH(QByteArray, answer);
    QFETCH(QString, reportedAs);
    QFETCH(QString, text);

    Rig rig(family);
    QVERIFY2(rig.start(), qPrintable(rig.sim.errorString()));
    rig.transactionStatus->clear();
    if (mode == "bad")
        rig.sim.writeRaw(TerminalSimulator::frame(family, message, true));
    else
        rig.sim.sendMessage(message, mode == "badThenGood" ? Outcome::BadCheckByte
                                     : mode == "split"     ? Outcome::SplitFrames
                                     : mode == "garbage"   ? Outcome::Garbage
                                                           : Outcome::Approve);

    QTRY_COMPARE(rig.sim.received().toHex(' '), answer.toHex(' '));
    // The worker reports a frame in the same step as it acknowledges it; give stray reports a moment.
    QTest::qWait(50);
    QCOMPARE(rig.sim.received().toHex(' '), answer.toHex(' '));
    QCOMPARE(rig.lastStatus->count(), reportedAs == "last" ? 1 : 0);
    QCOMPARE(rig.transactionStatus->count(), reportedAs == "transaction" ? 1 : 0);
    if (reportedAs != "none")
        QCOMPARE(rig.last(reportedAs == "last" ? *rig.lastStatus : *rig.transactionStatus), text);
}

void TestTpaWorker::commandWaitsForPollAnswer()
{
    Rig rig(1);
    rig.sim.setAnswerPolls(false);
    rig.sim.setOutcomes({Outcome::Silence});
    QVERIFY(rig.sim.isOpen());
    rig.worker->startWorker();
    QVERIFY(waitForMessage(rig.sim, TerminalSimulator::statusRequest(1)));

    const QByteArray purchase("P05100133304978200001250");
    rig.worker->setNewCommand(purchase);
    QCOMPARE(rig.last(*rig.transactionStatus), TpaStatus::CommandAdded);
    // A second command while the first waits, or runs, is refused and never written.
    rig.worker->setNewCommand(commandFor(1));
    QCOMPARE(rig.last(*rig.transactionStatus), TpaStatus::CommandRefused);
    QTest::qWait(300);
    QCOMPARE(TerminalTest::count(rig.sim, purchase), 0);

    // The answer to the outstanding poll releases the command.
    rig.sim.sendMessage("M00000");
    QVERIFY(waitForMessage(rig.sim, purchase));
    QCOMPARE(rig.inTransaction->count(), 1);
    QCOMPARE(rig.inTransaction->at(0).at(0).toBool(), true);
    rig.worker->setNewCommand(commandFor(1));
    QCOMPARE(rig.last(*rig.transactionStatus), TpaStatus::CommandRefused);
    QTest::qWait(100);
    QCOMPARE(TerminalTest::count(rig.sim, commandFor(1)), 0);
}

void TestTpaWorker::newnoteLatePollAnswer()
{
    Rig rig(2, timings(60000));
    rig.sim.setAnswerPolls(false);
    rig.sim.setOutcomes({Outcome::Silence});
    QVERIFY(rig.sim.isOpen());
    rig.worker->startWorker();
    QVERIFY(waitForMessage(rig.sim, TerminalSimulator::statusRequest(2)));

    // This family sends a command without waiting for the poll's answer, so
    // that answer may come during the transaction: it is the poll's, not the end.
    rig.worker->setNewCommand(commandFor(2));
    QVERIFY(waitForMessage(rig.sim, commandFor(2)));
    rig.sim.sendMessage("M00100");
    QTRY_COMPARE(rig.lastStatus->count(), 1);
    QVERIFY(rig.worker->inTransaction());
    rig.sim.sendMessage("S00000");
    QTRY_VERIFY(rig.endedTransaction());
    QCOMPARE(rig.last(*rig.transactionStatus), QStringLiteral("S00000"));

    // The poll after the transaction is answered while idle; then a status
    // answer that no poll explains still ends a transaction.
    QVERIFY(waitForMessage(rig.sim, TerminalSimulator::statusRequest(2), 2));
    rig.sim.sendMessage("M00100");
    QTRY_COMPARE(rig.lastStatus->count(), 2);
    rig.worker->setNewCommand(commandFor(2));
    QVERIFY(waitForMessage(rig.sim, commandFor(2), 2));
    QVERIFY(rig.worker->inTransaction());
    rig.sim.sendMessage("M00100");
    QTRY_VERIFY(rig.endedTransaction());
}

// A transaction ends in a timeout when the terminal stays silent past the
// transaction timer, when it gives up itself (family 1: "M01101"), or when
// the command cannot be written after three retries.
void TestTpaWorker::transactionEnds_data()
{
    QTest::addColumn<int>("family");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<int>("transactionMs");
    QTest::addColumn<int>("writeTimeouts");
    QTest::addColumn<QString>("beforeTimeout");
    QTest::newRow("1 silent") << 1 << Outcome::Silence << 1200 << 0 << TpaStatus::CommandAdded;
    QTest::newRow("2 silent") << 2 << Outcome::Silence << 1200 << 0 << TpaStatus::CommandAdded;
    QTest::newRow("1 terminal gives up") << 1 << Outcome::TerminalTimeout << 60000 << 0 << "M01101";
    QTest::newRow("1 write retries run out") << 1 << Outcome::Silence << 60000 << 4 << TpaStatus::CommandAdded;
    QTest::newRow("2 write retries run out") << 2 << Outcome::Silence << 60000 << 4 << TpaStatus::CommandAdded;
}

void TestTpaWorker::transactionEnds()
{
    QFETCH(int, family);
    QFETCH(Outcome, outcome);
    QFETCH(int, transactionMs);
    QFETCH(int, writeTimeouts);
    Rig rig(family, timings(transactionMs));
    rig.sim.setOutcomes({outcome});
    QVERIFY(rig.start());
    const QByteArray command = commandFor(family);
    rig.worker->setNewCommand(command);
    QVERIFY(waitForMessage(rig.sim, command));
    // The port reports write timeouts through its error signal (the Windows
    // driver does; a pseudo-terminal never does), delivered here the same way.
    for (int timeout = 1; timeout <= writeTimeouts; ++timeout) {
        rig.worker->errorOcurred(QSerialPort::TimeoutError);
        QVERIFY(timeout == writeTimeouts || waitForMessage(rig.sim, command, 1 + timeout));
    }
    QTRY_VERIFY_WITH_TIMEOUT(rig.endedTransaction(), 10000);
    QCOMPARE(rig.last(*rig.transactionStatus), TpaStatus::Timeout);
    QTEST(rig.last(*rig.transactionStatus, 2), "beforeTimeout");
    QVERIFY(rig.lastStatus->isEmpty());
    QTest::qWait(100);
    QCOMPARE(TerminalTest::count(rig.sim, command), qMax(1, writeTimeouts));
}

void TestTpaWorker::pollWriteTimeout()
{
    QFETCH(int, family);
    Rig rig(family);
    // The line is stuck: the status request cannot leave the port.
    QVERIFY(rig.sim.setPortOutputSuspended(true));
    rig.worker->startWorker();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.lastStatus->isEmpty(), 10000);
    QCOMPARE(rig.last(*rig.lastStatus), TpaStatus::Timeout);
    QVERIFY(rig.transactionStatus->isEmpty() && rig.inTransaction->isEmpty());

    // Once the line moves again the request gets through and is answered.
    QVERIFY(rig.sim.setPortOutputSuspended(false));
    QVERIFY(waitForMessage(rig.sim, TerminalSimulator::statusRequest(family)));
    QTRY_COMPARE(rig.last(*rig.lastStatus), family == 2 ? QStringLiteral("M00100") : QStringLiteral("M00000"));
}

QLK_TEST_MAIN_CORE(TestTpaWorker)
#include "tst_tpaworker.moc"

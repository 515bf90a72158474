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

std::unique_ptr<TpaWorker> makeWorker(int family, const QString& path, const TpaTimings& timings)
{
    const SerialPortDescription port = SerialPortDescription::simulated(path, 0x0B00, 0x0060);
    if (family == 2)
        return std::make_unique<TpaWorkerNewnote>(port, timings);
    return std::make_unique<TpaWorkerIngenico>(port, timings);
}

QByteArray commandFor(int family)
{
    return family == 2 ? QByteArrayLiteral("S00010000011") : QByteArrayLiteral("P001001333049782");
}

// The worker on the test's thread, started, its first poll answered and acknowledged.
struct Rig
{
    explicit Rig(int family, const TpaTimings& timings = TerminalTest::timings())
        : family(family)
        , sim(family)
    {
        sim.setStepInterval(20);
        if (!sim.open())
            return;
        worker = makeWorker(family, sim.portPath(), timings);
        lastStatus = std::make_unique<QSignalSpy>(worker.get(), &TpaWorker::setLastStatus);
        transactionStatus = std::make_unique<QSignalSpy>(worker.get(), &TpaWorker::setLastTransactionStatus);
        inTransaction = std::make_unique<QSignalSpy>(worker.get(), &TpaWorker::setInTransactionChanged);
    }

    bool start()
    {
        if (!worker)
            return false;
        worker->startWorker();
        QDeadlineTimer deadline(10000);
        while ((lastStatus->isEmpty() || !sim.received().endsWith(TerminalSimulator::ACK)) && !deadline.hasExpired())
            QTest::qWait(10);
        sim.clearReceived();
        lastStatus->clear();
        return worker->isPortOpen() && !deadline.hasExpired();
    }

    QString lastTransactionStatus() const
    {
        return transactionStatus->isEmpty() ? QString() : transactionStatus->last().at(0).toString();
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
    void receive_data();
    void receive();
    void commandWaitsForPollAnswer();
    void newnoteLatePollAnswer();
    void transactionTimer_data();
    void transactionTimer();
    void terminalGivesUp();
    void writeRetries_data();
    void writeRetries();
    void pollWriteTimeout_data();
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
    QTest::newRow("1 good frame") << 1 << QByteArray("M001HELLO") << "good" << ack << "transaction"
                                  << "M001HELLO";
    QTest::newRow("1 bad check byte") << 1 << QByteArray("M001HELLO") << "bad" << nak << "none"
                                      << "";
    QTest::newRow("1 bad, then sent again")
        << 1 << QByteArray("M001HELLO") << "badThenGood" << nak + ack << "transaction"
        << "M001HELLO";
    QTest::newRow("1 split over three reads") << 1 << QByteArray("M001HELLO") << "split" << ack << "transaction"
                                              << "M001HELLO";
    QTest::newRow("1 noise before STX") << 1 << QByteArray("M001HELLO") << "garbage" << ack << "transaction"
                                        << "M001HELLO";
    QTest::newRow("1 status answer") << 1 << QByteArray("M00000") << "good" << ack << "last"
                                     << "M00000";
    QTest::newRow("1 text ends at a zero byte") << 1 << QByteArray("M001AB\0CD", 9) << "good" << ack << "transaction"
                                                << "M001AB";
    // M025 is confirmed with the framed message M025000.
    QTest::newRow("1 M025 answered") << 1 << QByteArray("M025CONFIRME") << "good" << ack + hex("024d3032353030300349")
                                     << "transaction"
                                     << "M025CONFIRME";
    QTest::newRow("2 good frame") << 2 << QByteArray("D000TEXTO") << "good" << ack << "transaction"
                                  << "D000TEXTO";
    QTest::newRow("2 bad check byte") << 2 << QByteArray("D000TEXTO") << "bad" << nak << "none"
                                      << "";
    QTest::newRow("2 split over three reads") << 2 << QByteArray("D000TEXTO") << "split" << ack << "transaction"
                                              << "D000TEXTO";
    QTest::newRow("2 noise before DLE STX") << 2 << QByteArray("D000TEXTO") << "garbage" << ack << "transaction"
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

    if (mode == QLatin1String("bad"))
        rig.sim.writeRaw(TerminalSimulator::frame(family, message, true));
    else if (mode == QLatin1String("badThenGood"))
        rig.sim.sendMessage(message, Outcome::BadCheckByte);
    else if (mode == QLatin1String("split"))
        rig.sim.sendMessage(message, Outcome::SplitFrames);
    else if (mode == QLatin1String("garbage"))
        rig.sim.sendMessage(message, Outcome::Garbage);
    else
        rig.sim.sendMessage(message);

    QTRY_COMPARE(rig.sim.received().toHex(' '), answer.toHex(' '));
    // The worker reports a frame in the same step as it acknowledges it; give stray reports a moment.
    QTest::qWait(50);
    QCOMPARE(rig.sim.received().toHex(' '), answer.toHex(' '));
    const int expectLast = reportedAs == QLatin1String("last") ? 1 : 0;
    const int expectTransaction = reportedAs == QLatin1String("transaction") ? 1 : 0;
    QCOMPARE(rig.lastStatus->count(), expectLast);
    QCOMPARE(rig.transactionStatus->count(), expectTransaction);
    if (expectLast)
        QCOMPARE(rig.lastStatus->last().at(0).toString(), text);
    if (expectTransaction)
        QCOMPARE(rig.lastTransactionStatus(), text);
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
    QCOMPARE(rig.lastTransactionStatus(), TpaStatus::CommandAdded);
    // A second command while the first waits is refused and never written.
    rig.worker->setNewCommand(commandFor(1));
    QCOMPARE(rig.lastTransactionStatus(), TpaStatus::CommandRefused);
    QTest::qWait(300);
    QCOMPARE(TerminalTest::count(rig.sim, purchase), 0);

    // The answer to the outstanding poll releases the command.
    rig.sim.sendMessage("M00000");
    QVERIFY(waitForMessage(rig.sim, purchase));
    QCOMPARE(rig.inTransaction->count(), 1);
    QCOMPARE(rig.inTransaction->at(0).at(0).toBool(), true);

    rig.worker->setNewCommand(commandFor(1));
    QCOMPARE(rig.lastTransactionStatus(), TpaStatus::CommandRefused);
    QTest::qWait(100);
    QCOMPARE(TerminalTest::count(rig.sim, commandFor(1)), 0);
}

void TestTpaWorker::newnoteLatePollAnswer()
{
    TpaTimings timings = TerminalTest::timings();
    timings.transaction = 60000;
    Rig rig(2, timings);
    rig.sim.setAnswerPolls(false);
    rig.sim.setOutcomes({Outcome::Silence});
    QVERIFY(rig.sim.isOpen());
    rig.worker->startWorker();
    QVERIFY(waitForMessage(rig.sim, TerminalSimulator::statusRequest(2)));

    // This family sends a command without waiting for the poll's answer...
    rig.worker->setNewCommand(commandFor(2));
    QVERIFY(waitForMessage(rig.sim, commandFor(2)));
    // ...so that answer may come during the transaction: it is the poll's, not the end.
    rig.sim.sendMessage("M00100");
    QTRY_COMPARE(rig.lastStatus->count(), 1);
    QVERIFY(rig.worker->inTransaction());
    rig.sim.sendMessage("S00000");
    QTRY_VERIFY(rig.endedTransaction());
    QCOMPARE(rig.lastTransactionStatus(), QStringLiteral("S00000"));

    // The poll after the transaction, answered while idle.
    QVERIFY(waitForMessage(rig.sim, TerminalSimulator::statusRequest(2), 2));
    rig.sim.sendMessage("M00100");
    QTRY_COMPARE(rig.lastStatus->count(), 2);

    // A status answer that no poll explains still ends a transaction.
    rig.worker->setNewCommand(commandFor(2));
    QVERIFY(waitForMessage(rig.sim, commandFor(2), 2));
    QVERIFY(rig.worker->inTransaction());
    rig.sim.sendMessage("M00100");
    QTRY_VERIFY(rig.endedTransaction());
}

void TestTpaWorker::transactionTimer_data()
{
    QTest::addColumn<int>("family");
    QTest::newRow("Ingenico") << 1;
    QTest::newRow("Newnote") << 2;
}

void TestTpaWorker::transactionTimer()
{
    QFETCH(int, family);
    Rig rig(family);
    rig.sim.setOutcomes({Outcome::Silence});
    QVERIFY(rig.start());
    rig.worker->setNewCommand(commandFor(family));
    QVERIFY(waitForMessage(rig.sim, commandFor(family)));
    QVERIFY(rig.worker->inTransaction());

    QTRY_VERIFY_WITH_TIMEOUT(rig.endedTransaction(), 10000);
    QCOMPARE(rig.lastTransactionStatus(), TpaStatus::Timeout);
    QVERIFY(rig.lastStatus->isEmpty());
}

void TestTpaWorker::terminalGivesUp()
{
    TpaTimings timings = TerminalTest::timings();
    timings.transaction = 60000; // so that only the terminal's own message can end it
    Rig rig(1, timings);
    rig.sim.setOutcomes({Outcome::TerminalTimeout});
    QVERIFY(rig.start());
    rig.worker->setNewCommand("P05100133304978200000099");

    QTRY_VERIFY_WITH_TIMEOUT(rig.endedTransaction(), 10000);
    QCOMPARE(rig.lastTransactionStatus(), TpaStatus::Timeout);
    QCOMPARE(rig.transactionStatus->at(rig.transactionStatus->count() - 2).at(0).toString(), QStringLiteral("M01101"));
}

void TestTpaWorker::writeRetries_data()
{
    transactionTimer_data();
}

void TestTpaWorker::writeRetries()
{
    QFETCH(int, family);
    TpaTimings timings = TerminalTest::timings();
    timings.transaction = 60000;
    Rig rig(family, timings);
    rig.sim.setOutcomes({Outcome::Silence});
    QVERIFY(rig.start());
    const QByteArray command = commandFor(family);
    rig.worker->setNewCommand(command);
    QVERIFY(waitForMessage(rig.sim, command));

    // The port reports write timeouts through its error signal (the Windows
    // driver does; a pseudo-terminal never does), delivered here the same way.
    for (int retry = 1; retry <= 3; ++retry) {
        rig.worker->errorOcurred(QSerialPort::TimeoutError);
        QVERIFY(waitForMessage(rig.sim, command, 1 + retry));
        QVERIFY(rig.worker->inTransaction());
    }
    rig.worker->errorOcurred(QSerialPort::TimeoutError);
    QVERIFY(rig.endedTransaction());
    QCOMPARE(rig.lastTransactionStatus(), TpaStatus::Timeout);
    QTest::qWait(100);
    QCOMPARE(TerminalTest::count(rig.sim, command), 4);
}

void TestTpaWorker::pollWriteTimeout_data()
{
    transactionTimer_data();
}

void TestTpaWorker::pollWriteTimeout()
{
    QFETCH(int, family);
    Rig rig(family);
    QVERIFY(rig.sim.isOpen());
    // The line is stuck: the status request cannot leave the port.
    QVERIFY(rig.sim.setPortOutputSuspended(true));
    rig.worker->startWorker();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.lastStatus->isEmpty(), 10000);
    QCOMPARE(rig.lastStatus->last().at(0).toString(), TpaStatus::Timeout);
    QVERIFY(rig.transactionStatus->isEmpty());
    QVERIFY(rig.inTransaction->isEmpty());

    // Once the line moves again the request gets through and is answered.
    QVERIFY(rig.sim.setPortOutputSuspended(false));
    QVERIFY(waitForMessage(rig.sim, TerminalSimulator::statusRequest(family)));
    QTRY_COMPARE(rig.lastStatus->last().at(0).toString(),
                 family == 2 ? QStringLiteral("M00100") : QStringLiteral("M00000"));
}

QLK_TEST_MAIN_CORE(TestTpaWorker)
#include "tst_tpaworker.moc"

// Tpa: the terminal registry object with its worker thread, against terminals
// played on pseudo-terminals.

#include "support/PtyLink.h"
#include "support/TerminalTestSupport.h"
#include "support/TestMain.h"
#include "terminals/Tpa.h"
#include "terminals/TpaStatus.h"

#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QThread>
#include <atomic>
#include <memory>

using Outcome = TerminalSimulator::Outcome;
using TerminalTest::hex;
using TerminalTest::waitForMessage;

namespace {

const QString CallerA = QStringLiteral("pos-a");
const QString CallerB = QStringLiteral("pos-b");

std::unique_ptr<Tpa> makeTpa(int type, const QString& path, const TpaTimings& timings = TerminalTest::timings())
{
    const quint16 vendor = type == 2 ? 0x0403 : 0x0B00;
    return std::make_unique<Tpa>(SerialPortDescription::simulated(path, vendor, 0x0060), type, nullptr, timings);
}

QString statusAnswer(int type)
{
    return type == 2 ? QStringLiteral("M00100") : QStringLiteral("M00000");
}

// Waits for the first poll of a new Tpa to be answered.
bool waitUntilPolled(const Tpa& tpa, int type)
{
    return QTest::qWaitFor([&]() { return tpa.lastStatus() == statusAnswer(type); }, 10000);
}

// Waits for the end of the running transaction; the caller's last status.
QString finish(Tpa& tpa, const QString& caller = CallerA)
{
    if (!QTest::qWaitFor([&]() { return !tpa.isInTransaction(); }, 10000))
        return QStringLiteral("still running");
    const QStringList statuses = tpa.takeTransactionStatuses(caller);
    return statuses.isEmpty() ? QString() : statuses.last();
}

} // namespace

class TestTpa : public QObject
{
    Q_OBJECT

private slots:
    void terminalType();
    void keyAndAvailability();
    void state();
    void normalisation_data();
    void normalisation();
    void frames_data();
    void frames();
    void purchase_data();
    void purchase();
    void twoCallers();
    void simulatorProgram();
    void portComesAndGoes();
};

void TestTpa::terminalType()
{
    const QList<QPair<int, int>> vendors{{0x079B, 1}, {0x0B00, 1}, {0x0403, 2}, {0x1E0E, 2}, {0x2341, 0}};
    for (const auto& vendor : vendors)
        QCOMPARE(Tpa::terminalType(vendor.first), vendor.second);
}

void TestTpa::keyAndAvailability()
{
    // The key is the Base64 SHA-1 of the identifiers as UTF-16 characters in UTF-8.
    QCOMPARE(Tpa::terminalKey(0x0B00, 0x0060), QStringLiteral("f02xoKcDECwmiDbY9H84fUwxSnM="));
    QCOMPARE(Tpa::terminalKey(0x0403, 0x6001), QStringLiteral("3JjFF5VjQmz2frt9wweUhQwrJOI="));

    auto first = makeTpa(1, QStringLiteral("/nonexistent/ttyA"));
    QCOMPARE(first->name(), QStringLiteral("Simulated serial port [/nonexistent/ttyA]"));
    QVERIFY(first->available()); // a terminal seen for the first time
    first->setAvailable(false);
    const QString key = QStringLiteral("tpa/") + Tpa::terminalKey(0x0B00, 0x0060);
    QSettings file(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quorva"),
                   QStringLiteral("QuorvaLink"));
    QCOMPARE(file.value(key, true).toBool(), false);

    // Same device model on another port: same key, same stored choice.
    auto second = makeTpa(1, QStringLiteral("/nonexistent/ttyB"));
    QVERIFY(!second->available());
    second->setAvailable(true);
    QCOMPARE(QSettings().value(key).toBool(), true);
}

void TestTpa::state()
{
    TerminalSimulator sim(1);
    QVERIFY(sim.open());
    PtyLink link;
    QVERIFY(link.pointTo(sim.portPath()));
    auto tpa = makeTpa(1, link.path());
    QVERIFY(!tpa->state()); // not among the discovered ports
    qputenv(SerialPortDescription::SimulatedPortsVariable, (link.path() + "=0B00:0060").toLocal8Bit());
    QVERIFY(tpa->state());
    link.unlink();
    QVERIFY(!tpa->state());
    qunsetenv(SerialPortDescription::SimulatedPortsVariable);
}

void TestTpa::normalisation_data()
{
    QTest::addColumn<QString>("amount");
    QTest::addColumn<QByteArray>("digits");
    QTest::newRow("whole") << "5" << QByteArray("00000005");
    QTest::newRow("cents") << "0.99" << QByteArray("00000099");
    QTest::newRow("comma and dot") << "1.234,50" << QByteArray("00123450");
    QTest::newRow("longer than 8") << "123456789" << QByteArray("123456789");
}

void TestTpa::normalisation()
{
    QFETCH(QString, amount);
    QFETCH(QByteArray, digits);
    auto tpa = makeTpa(1, QStringLiteral("/nonexistent/ttyA"));
    QSignalSpy sent(tpa.get(), &Tpa::sendMessage);
    tpa->sendPurchase(CallerA, amount);
    QCOMPARE(sent.count(), 1);
    QCOMPARE(sent.at(0).at(0).toByteArray(), "P051001333049782" + digits);
}

void TestTpa::frames_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("frame"); // empty: nothing is sent, nothing runs

    QTest::newRow("1 status request") << 1 << "poll" << hex("024d30303030354c423032303030300377");
    QTest::newRow("1 open") << 1 << "open" << hex("02503030313030313333333034393738320360");
    QTest::newRow("1 close") << 1 << "close" << hex("02503034323130313333333034393738320366");
    QTest::newRow("1 purchase 12.50") << 1 << "purchase"
                                      << hex("025030353130303133333330343937383230303030313235300363");
    QTest::newRow("1 refund") << 1 << "refund"
                              << hex("025030363130303133333330323937383230303030313235305245463132333230323430333031"
                                     "3134303530390308");
    QTest::newRow("1 menu") << 1 << "menu" << hex("024d3030353030037b");
    QTest::newRow("1 reprint") << 1 << "reprint" << hex("024d3030353035037e");
    QTest::newRow("2 status request") << 2 << "poll" << hex("10024d3030313130505110036f");
    QTest::newRow("2 open") << 2 << "open" << hex("1002533030303130303030303131100371");
    QTest::newRow("2 close") << 2 << "close" << hex("1002533030313130303030303131100370");
    // Ends with the length byte 0B and the four empty tags 9F1C, 9A, 9F21, 9F02.
    QTest::newRow("2 purchase 12.50")
        << 2 << "purchase"
        << hex("100243303030313030303030303030303132353030303030313030300b9f1c009a009f21009f0200100357");
    QTest::newRow("2 refund") << 2 << "refund"
                              << hex("10024330303231303030303030303030313235305245463132333230323430333031313430353039"
                                     "31313010033b");
    QTest::newRow("2 has no menu") << 2 << "menu" << QByteArray();
    QTest::newRow("2 has no reprint") << 2 << "reprint" << QByteArray();
}

void TestTpa::frames()
{
    QFETCH(int, type);
    QFETCH(QString, command);
    QFETCH(QByteArray, frame);

    TerminalSimulator sim(type);
    sim.setOutcomes({Outcome::Silence}); // nothing follows the command on the line
    QVERIFY(sim.open());
    auto tpa = makeTpa(type, sim.portPath());
    if (command == "poll") {
        QTRY_VERIFY(sim.received().startsWith(frame));
        return;
    }
    QVERIFY(waitUntilPolled(*tpa, type));
    const int before = sim.messages().size();
    if (command == "open")
        tpa->sendOpen(CallerA);
    else if (command == "close")
        tpa->sendClose(CallerA);
    else if (command == "purchase")
        tpa->sendPurchase(CallerA, QStringLiteral("12.50"));
    else if (command == "refund")
        tpa->sendRefund(CallerA, "REF123", "2024-03-01 14:05:09", "12,50");
    else if (command == "menu")
        tpa->sendOpenMenu(CallerA);
    else
        tpa->sendReprintLastReceipt(CallerA);
    if (frame.isEmpty()) {
        // Nobody is told the terminal is busy.
        QVERIFY(!tpa->isInTransaction());
        QCOMPARE(tpa->statusFor(CallerB), statusAnswer(type));
        QTest::qWait(100);
        QCOMPARE(sim.messages().size(), before);
        return;
    }
    QTRY_COMPARE(sim.messages().size(), before + 1);
    QCOMPARE(sim.received().right(frame.size()).toHex(' '), frame.toHex(' '));
}

void TestTpa::purchase_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("statuses");
    QTest::newRow("Ingenico") << 1
                              << QStringList{TpaStatus::CommandAdded, "M001INSIRA OU APROXIME O CARTAO",
                                             "M025CONFIRME O VALOR", "M001INTRODUZA O PIN", "P1510000001250"};
    QTest::newRow("Newnote") << 2
                             << QStringList{TpaStatus::CommandAdded, "D000INSIRA OU APROXIME O CARTAO",
                                            "D000INTRODUZA O PIN", "C00000APROVADOQLK0000100001250"};
}

void TestTpa::purchase()
{
    QFETCH(int, type);
    QFETCH(QStringList, statuses);

    TerminalSimulator sim(type);
    sim.setStepInterval(250); // room to look while it runs
    QVERIFY(sim.open());
    auto tpa = makeTpa(type, sim.portPath());
    QVERIFY(waitUntilPolled(*tpa, type));
    const QByteArray poll = TerminalSimulator::statusRequest(type);
    QCOMPARE(TerminalTest::count(sim, poll), 1);

    // The web API reads from its connection threads while the worker's reports
    // change the state on this thread.
    std::atomic<bool> stop{false};
    std::unique_ptr<QThread> reader(QThread::create([&tpa, &stop]() {
        const QString caller = QStringLiteral("reader");
        while (!stop) {
            tpa->statusFor(caller);
            tpa->takeTransactionStatuses(caller);
            tpa->clearTransactionStatuses(caller);
            tpa->lastTransactionStatus();
        }
    }));
    reader->start();
    const auto stopReader = qScopeGuard([&]() {
        stop = true;
        reader->wait();
    });

    tpa->sendPurchase(CallerA, QStringLiteral("12.50"));
    QVERIFY(tpa->isInTransaction());
    // While it runs, the caller sees the same growing list on every read.
    QTRY_VERIFY(tpa->takeTransactionStatuses(CallerA).size() >= 2);
    const QStringList during = tpa->takeTransactionStatuses(CallerA);
    QCOMPARE(during, statuses.mid(0, during.size()));
    QVERIFY(tpa->takeTransactionStatuses(CallerA).size() >= during.size());

    // The final code ends it; the queue is delivered once.
    QTRY_VERIFY_WITH_TIMEOUT(!tpa->isInTransaction(), 10000);
    QCOMPARE(tpa->takeTransactionStatuses(CallerA), statuses);
    QVERIFY(tpa->takeTransactionStatuses(CallerA).isEmpty());
    if (type == 1)
        QCOMPARE(TerminalTest::count(sim, "M025000"), 1);
    // The next poll follows the short after-transaction interval (the idle one is a minute here).
    QVERIFY(waitForMessage(sim, poll, 2, 5000));
}

void TestTpa::twoCallers()
{
    TerminalSimulator sim(1);
    sim.setStepInterval(500); // room to look while it runs
    QVERIFY(sim.open());
    auto tpa = makeTpa(1, sim.portPath());
    QVERIFY(waitUntilPolled(*tpa, 1));
    QCOMPARE(tpa->statusFor(CallerB), statusAnswer(1));

    tpa->sendOpen(CallerA);
    QCOMPARE(tpa->statusFor(CallerB), TpaStatus::Busy);
    QCOMPARE(tpa->statusFor(QStringLiteral("never-seen")), TpaStatus::Busy);
    QCOMPARE(tpa->statusFor(CallerA), statusAnswer(1));
    QTRY_VERIFY(!tpa->takeTransactionStatuses(CallerA).isEmpty());
    // During the transaction nothing is cleared, and B has nothing of A's.
    QVERIFY(tpa->clearTransactionStatuses(CallerA).isEmpty());
    QVERIFY(tpa->clearTransactionStatuses(CallerB).isEmpty());
    QVERIFY(!tpa->takeTransactionStatuses(CallerA).isEmpty());
    QVERIFY(tpa->takeTransactionStatuses(CallerB).isEmpty());

    QTRY_VERIFY_WITH_TIMEOUT(!tpa->isInTransaction(), 10000);
    QCOMPARE(tpa->statusFor(CallerB), statusAnswer(1));
    QVERIFY(tpa->takeTransactionStatuses(CallerB).isEmpty());
    QCOMPARE(tpa->clearTransactionStatuses(CallerA), (QStringList{TpaStatus::CommandAdded, "P10100"}));
    QVERIFY(tpa->takeTransactionStatuses(CallerA).isEmpty());

    // B may now run its own; A is the one told it is busy.
    tpa->sendClose(CallerB);
    QCOMPARE(tpa->statusFor(CallerA), TpaStatus::Busy);
    QTRY_VERIFY_WITH_TIMEOUT(!tpa->isInTransaction(), 10000);
    QCOMPARE(tpa->takeTransactionStatuses(CallerB), (QStringList{TpaStatus::CommandAdded, "P14200"}));
    QVERIFY(tpa->takeTransactionStatuses(CallerB).isEmpty());
    QVERIFY(tpa->takeTransactionStatuses(CallerA).isEmpty());
}

// The program integrators run: its port, announced as the environment wants it.
void TestTpa::simulatorProgram()
{
    const QString program = qEnvironmentVariable("QLK_BUILD_DIR") + QStringLiteral("/tpa-simulator");
    if (!QFile::exists(program))
        QSKIP("the simulator program is not built");
    QProcess simulator;
    simulator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    simulator.start(program, {"--family", "1", "--outcomes", "decline", "--step-ms", "20", "--quiet"});
    QVERIFY(simulator.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(simulator.canReadLine(), 10000);
    const QString path = QString::fromLocal8Bit(simulator.readLine()).trimmed();
    QTRY_VERIFY(simulator.canReadLine());
    const QString line = QString::fromLocal8Bit(simulator.readLine()).trimmed();
    QCOMPARE(line, QStringLiteral("QUORVA_LINK_SIMULATED_PORTS=%1=0B00:0060").arg(path));

    Tpa tpa(SerialPortDescription::simulated(path, 0x0B00, 0x0060), 1, nullptr, TerminalTest::timings());
    QVERIFY(waitUntilPolled(tpa, 1));
    tpa.sendPurchase(CallerA, QStringLiteral("7"));
    QCOMPARE(finish(tpa), QStringLiteral("P2510500000007"));

    simulator.terminate();
    QVERIFY(simulator.waitForFinished(5000));
    QCOMPARE(simulator.exitStatus(), QProcess::NormalExit);
}

// A terminal that is not there yet, is plugged in, vanishes in the middle of
// a transaction and comes back on the same path.
void TestTpa::portComesAndGoes()
{
    TpaTimings timings = TerminalTest::timings();
    timings.transaction = 60000; // the loss of the port, not the timer, must end a transaction
    timings.idlePoll = 300;      // the interval of the attempts to open the port again
    PtyLink link;
    auto tpa = makeTpa(1, link.path(), timings);

    // Nothing to talk to: the command is refused at once, not left running.
    tpa->sendPurchase(CallerA, QStringLiteral("1.00"));
    QVERIFY(tpa->isInTransaction());
    QTRY_VERIFY_WITH_TIMEOUT(!tpa->isInTransaction(), 5000);
    QCOMPARE(tpa->takeTransactionStatuses(CallerA), QStringList{TpaStatus::Timeout});
    QCOMPARE(tpa->statusFor(CallerB), QString());

    for (int round = 0; round < 2; ++round) {
        TerminalSimulator sim(1);
        sim.setStepInterval(20);
        sim.setOutcomes({Outcome::Approve, Outcome::Silence});
        QVERIFY(sim.open());
        QVERIFY(link.pointTo(sim.portPath()));
        QVERIFY(waitForMessage(sim, TerminalSimulator::statusRequest(1)));
        QVERIFY(waitUntilPolled(*tpa, 1));
        tpa->sendPurchase(CallerA, QStringLiteral("1.00"));
        QCOMPARE(finish(*tpa), QStringLiteral("P1510000000100"));

        tpa->sendPurchase(CallerA, QStringLiteral("3.00"));
        QVERIFY(waitForMessage(sim, "P05100133304978200000300"));
        sim.closeMaster(); // the device is unplugged
        link.unlink();
        QCOMPARE(finish(*tpa), TpaStatus::Timeout);
    }
}

QLK_TEST_MAIN_CORE(TestTpa)
#include "tst_tpa.moc"

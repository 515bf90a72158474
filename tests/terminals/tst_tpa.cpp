// Tpa: the terminal registry object with its worker thread, against terminals played on pseudo-terminals.

#include "support/PtyLink.h"
#include "support/TerminalTestSupport.h"
#include "support/TestMain.h"
#include "terminals/Tpa.h"
#include "terminals/TpaMessages.h"
#include "terminals/TpaStatus.h"

#include <QDir>
#include <QScopeGuard>
#include <QThread>
#include <atomic>
#include <memory>

using Outcome = TerminalSimulator::Outcome;
using TerminalTest::hex;

namespace {

const QString CallerA = QStringLiteral("pos-a");
const QString CallerB = QStringLiteral("pos-b");

std::unique_ptr<Tpa> makeTpa(int type, const QString& path, const TpaTimings& timings = TerminalTest::timings())
{
    return std::make_unique<Tpa>(SerialPortDescription::simulated(path, type == 2 ? 0x0403 : 0x0B00, 0x0060), type,
                                 nullptr, timings);
}

QString statusAnswer(int type)
{
    return type == 2 ? QStringLiteral("M00100") : QStringLiteral("M00000");
}

bool waitUntilPolled(const Tpa& tpa, int type)
{
    return QTest::qWaitFor([&]() { return tpa.lastStatus() == statusAnswer(type); }, 10000);
}

// Waits for the end of the running transaction; the caller's last status.
QString finish(Tpa& tpa)
{
    if (!QTest::qWaitFor([&]() { return !tpa.isInTransaction(); }, 10000))
        return QStringLiteral("still running");
    const QStringList statuses = tpa.takeTransactionStatuses(CallerA);
    return statuses.isEmpty() ? QString() : statuses.last();
}

// How many descriptors of this process are open on the file.
int openHere(const QString& path)
{
    int count = 0;
    for (const QFileInfo& fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::AllEntries | QDir::System))
        count += fd.symLinkTarget() == QFileInfo(path).canonicalFilePath();
    return count;
}

} // namespace

class TestTpa : public QObject
{
    Q_OBJECT

private slots:
    void amounts()
    {
        QCOMPARE(TpaMessages::purchase(1, "0.99"), "P05100133304978200000099");
        QCOMPARE(TpaMessages::purchase(1, "1.234,50"), "P05100133304978200123450");
        QCOMPARE(TpaMessages::purchase(1, "123456789"), "P051001333049782123456789");
    }

    void frames_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("frame"); // empty: nothing is sent, nothing runs
        QTest::newRow("1 status request") << 1 << "poll" << hex("024d30303030354c423032303030300377");
        QTest::newRow("1 open") << 1 << "open" << hex("02503030313030313333333034393738320360");
        QTest::newRow("1 refund") << 1 << "refund"
                                  << hex("0250303631303031333333303239373832303030303132353052454631323332303234"
                                         "303330313134303530390308");
        QTest::newRow("1 menu") << 1 << "menu" << hex("024d3030353030037b");
        QTest::newRow("2 status request") << 2 << "poll" << hex("10024d3030313130505110036f");
        QTest::newRow("2 open") << 2 << "open" << hex("1002533030303130303030303131100371");
        // Ends with the length byte 0B and the four empty tags 9F1C, 9A, 9F21, 9F02.
        QTest::newRow("2 purchase 12.50") << 2 << "purchase"
                                          << hex("100243303030313030303030303030303132353030303030313030300b9f1c009a"
                                                 "009f21009f0200100357");
        QTest::newRow("2 refund") << 2 << "refund"
                                  << hex("10024330303231303030303030303030313235305245463132333230323430333031313430"
                                         "35303931313010033b");
        QTest::newRow("2 has no menu") << 2 << "menu" << QByteArray();
        QTest::newRow("2 has no reprint") << 2 << "reprint" << QByteArray();
    }
    void frames()
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
        else if (command == "purchase")
            tpa->sendPurchase(CallerA, QStringLiteral("12.50"));
        else if (command == "refund")
            tpa->sendRefund(CallerA, "REF123", "2024-03-01 14:05:09", "12,50");
        else if (command == "menu")
            tpa->sendOpenMenu(CallerA);
        else
            tpa->sendReprintLastReceipt(CallerA);
        if (frame.isEmpty()) {
            // The caller does not become the current one: nobody is told the terminal is busy.
            QCOMPARE(tpa->statusFor(CallerB), statusAnswer(type));
            QTest::qWait(100);
            QCOMPARE(sim.messages().size(), before);
            return;
        }
        QTRY_COMPARE(sim.messages().size(), before + 1);
        QCOMPARE(sim.received().right(frame.size()).toHex(' '), frame.toHex(' '));
    }

    void purchase_data()
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
    void purchase()
    {
        QFETCH(int, type);
        QFETCH(QStringList, statuses);
        TerminalSimulator sim(type);
        sim.setStepInterval(250); // room to look while it runs
        QVERIFY(sim.open());
        auto tpa = makeTpa(type, sim.portPath());
        QVERIFY(waitUntilPolled(*tpa, type));

        // The web API reads from its connection threads while the worker's reports change the state here.
        std::atomic<bool> stop{false};
        std::unique_ptr<QThread> reader(QThread::create([&tpa, &stop]() {
            while (!stop) {
                tpa->statusFor(CallerB);
                tpa->takeTransactionStatuses(CallerB);
                tpa->lastTransactionStatus();
            }
        }));
        reader->start();
        const auto stopReader = qScopeGuard([&]() {
            stop = true;
            reader->wait();
        });

        tpa->sendPurchase(CallerA, QStringLiteral("12.50"));
        QCOMPARE(tpa->statusFor(CallerB), TpaStatus::Busy);
        // While it runs, the caller sees the same growing list on every read.
        QTRY_VERIFY(tpa->takeTransactionStatuses(CallerA).size() >= 2);
        const QStringList during = tpa->takeTransactionStatuses(CallerA);
        QCOMPARE(during, statuses.mid(0, during.size()));
        // The final code ends it; the list is delivered once, to its caller only.
        QTRY_VERIFY_WITH_TIMEOUT(!tpa->isInTransaction(), 10000);
        QCOMPARE(tpa->takeTransactionStatuses(CallerA), statuses);
        QVERIFY(tpa->takeTransactionStatuses(CallerA).isEmpty());
        QCOMPARE(tpa->statusFor(CallerB), statusAnswer(type));
        // The next poll follows the short after-transaction interval (the idle one is a minute here).
        QVERIFY(TerminalTest::waitForMessage(sim, TerminalSimulator::statusRequest(type), 2, 5000));
    }

    // A terminal that is not there yet, is plugged in, vanishes in the middle of
    // a transaction and comes back on the same path.
    void portComesAndGoes()
    {
        TpaTimings timings = TerminalTest::timings();
        timings.transaction = 60000; // the loss of the port, not the timer, must end a transaction
        timings.idlePoll = 300;      // the interval of the attempts to open the port again
        PtyLink link;
        auto tpa = makeTpa(1, link.path(), timings);
        // Nothing to talk to: the command is refused at once, not left running.
        tpa->sendPurchase(CallerA, QStringLiteral("1.00"));
        QCOMPARE(finish(*tpa), TpaStatus::Timeout);
        for (int round = 0; round < 2; ++round) {
            TerminalSimulator sim(1);
            sim.setStepInterval(20);
            sim.setOutcomes({Outcome::Approve, Outcome::Silence});
            QVERIFY(sim.open());
            QVERIFY(link.pointTo(sim.portPath()));
            QVERIFY(TerminalTest::waitForMessage(sim, TerminalSimulator::statusRequest(1)));
            tpa->sendPurchase(CallerA, QStringLiteral("1.00"));
            QCOMPARE(finish(*tpa), QStringLiteral("P1510000000100"));
            tpa->sendPurchase(CallerA, QStringLiteral("3.00"));
            QVERIFY(TerminalTest::waitForMessage(sim, "P05100133304978200000300"));
            sim.closeMaster(); // the device is unplugged
            link.unlink();
            QCOMPARE(finish(*tpa), TpaStatus::Timeout);
        }
    }

    // Gone from the list, a Tpa stops its worker and frees the device for the one that replaces it.
    void destructionReleasesThePort()
    {
        TerminalSimulator sim(1);
        QVERIFY(sim.open());
        const int before = openHere(sim.portPath());
        auto tpa = makeTpa(1, sim.portPath());
        QVERIFY(waitUntilPolled(*tpa, 1));
        QCOMPARE(openHere(sim.portPath()), before + 1);
        tpa.reset();
        QCOMPARE(openHere(sim.portPath()), before);
    }
};

QLK_TEST_MAIN_CORE(TestTpa)
#include "tst_tpa.moc"

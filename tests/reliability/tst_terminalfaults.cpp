// Terminals that misbehave: the Tpa comes out able to run the next purchase, or free and told.
#include "support/PtyLink.h"
#include "support/TerminalTestSupport.h"
#include "support/TestMain.h"
#include "terminals/Tpa.h"
#include "terminals/TpaStatus.h"

#include <QDeadlineTimer>
#include <QRandomGenerator>

using Outcome = TerminalSimulator::Outcome;

namespace {
const QString Caller = QStringLiteral("pos-faults");
const QByteArray Stx(1, TerminalSimulator::STX), Etx(1, TerminalSimulator::ETX);

QString finish(Tpa& tpa)
{
    if (!QTest::qWaitFor([&]() { return !tpa.isInTransaction(); }, 15000))
        return QStringLiteral("still running");
    const QStringList statuses = tpa.takeTransactionStatuses(Caller);
    return statuses.isEmpty() ? QString() : statuses.last();
}

// No STX and no ETX: nothing that could open or close a frame.
QByteArray noise(int size)
{
    QByteArray bytes(size, '\0');
    for (char& byte : bytes)
        byte = char(QRandomGenerator::global()->bounded(256));
    return bytes.replace(Stx, "S").replace(Etx, "E");
}
} // namespace

class TestTerminalFaults : public QObject
{
    Q_OBJECT

private slots:
    void survivesHostileBytes_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("approved");
        QTest::newRow("Ingenico") << 1 << "P1510000001250";
        QTest::newRow("Newnote") << 2 << "C00000APROVADOQLK0000100001250";
    }

    void survivesHostileBytes()
    {
        QFETCH(int, type);
        QFETCH(QString, approved);
        TpaTimings timings = TerminalTest::timings();
        timings.transaction = 60000; // the loss of the port, not the timer, must end the last transaction
        timings.idlePoll = 300;      // status polls resume the exchange after the hostile bytes
        PtyLink link;
        TerminalSimulator sim(type);
        sim.setStepInterval(20);
        sim.setOutcomes({Outcome::Approve, Outcome::Approve, Outcome::Silence});
        QVERIFY(sim.open());
        QVERIFY(link.pointTo(sim.portPath()));
        const quint16 vendor = type == 2 ? 0x0403 : 0x0B00;
        Tpa tpa(SerialPortDescription::simulated(link.path(), vendor, 0x0060), type, nullptr, timings);
        QVERIFY(TerminalTest::waitForMessage(sim, TerminalSimulator::statusRequest(type)));

        // Noise, a 1 MiB frame that never ends, a 256 KiB one that does: dropped, asked again (NAK), memory bounded.
        sim.writeRaw(noise(64 * 1024));
        const int naksBefore = sim.naksReceived();
        // The pty takes what its buffer holds and a raw write drops the rest, so on a busy machine the
        // frame is fed in pieces until the worker gives up on it.
        sim.writeRaw(Stx);
        for (const QDeadlineTimer end(15000); sim.naksReceived() == naksBefore && !end.hasExpired(); QTest::qWait(5))
            sim.writeRaw(QByteArray(16 * 1024, 'A'));
        QVERIFY(sim.naksReceived() > naksBefore);
        sim.writeRaw(Stx + QByteArray(256 * 1024, 'B') + Etx + 'x' + noise(1024));

        tpa.sendPurchase(Caller, QStringLiteral("12.50"));
        QCOMPARE(finish(tpa), approved);
        // Split frames with noise between them (the simulator's Garbage outcome) work as well.
        sim.setOutcomes({Outcome::Garbage, Outcome::Silence});
        tpa.sendPurchase(Caller, QStringLiteral("12.50"));
        QCOMPARE(finish(tpa), approved);

        // The device vanishes mid-transaction: the caller hears of it, the Tpa is free again.
        tpa.sendPurchase(Caller, QStringLiteral("3.00"));
        const int before = sim.messages().size();
        QTRY_VERIFY_WITH_TIMEOUT(sim.messages().size() > before, 10000); // the command is on the line
        sim.closeMaster();
        link.unlink();
        QCOMPARE(finish(tpa), TpaStatus::Timeout);
    }
};

QLK_TEST_MAIN_CORE(TestTerminalFaults)
#include "tst_terminalfaults.moc"

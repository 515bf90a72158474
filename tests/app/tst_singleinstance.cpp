#include "app/SingleInstance.h"
#include "support/ProgramRunner.h"
#include "support/TestMain.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>

// The single-instance scheme with the real program: a fresh "kicked" stamp
// makes a second start give way, anything else lets it run.
class TestSingleInstance : public QObject
{
    Q_OBJECT

private:
    static QVariant readKey(const QString& file, const QString& key)
    {
        QSettings settings(file, QSettings::IniFormat);
        return settings.value(key);
    }

    static void writeKey(const QString& file, const QString& key, const QVariant& value)
    {
        QSettings settings(file, QSettings::IniFormat);
        settings.setValue(key, value);
        settings.sync();
    }

private slots:
    void initTestCase() { QVERIFY2(!ProgramRunner::programPath().isEmpty(), "QLK_PROGRAM is not set"); }

    void freshStampBlocksStart_data()
    {
        QTest::addColumn<int>("age");
        QTest::newRow("one second old") << 1;
        QTest::newRow("four seconds old") << 4;
    }

    void freshStampBlocksStart()
    {
        QFETCH(int, age);
        QTemporaryDir home;
        ProgramRunner program(home.path());
        writeKey(program.settingsFile(), QStringLiteral("kicked"),
                 QString::number(SingleInstance::localNowSeconds() - age));

        program.start();
        QVERIFY(program.process().waitForFinished(5000));
        QCOMPARE(program.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.process().exitCode(), 0);
        QCOMPARE(readKey(program.settingsFile(), QStringLiteral("showWindow")).toBool(), true);
    }

    void staleStampDoesNotBlock_data()
    {
        QTest::addColumn<int>("age");
        QTest::newRow("six seconds old") << 6;
        QTest::newRow("an hour old") << 3600;
        QTest::newRow("in the future") << -30;
    }

    void staleStampDoesNotBlock()
    {
        QFETCH(int, age);
        QTemporaryDir home;
        ProgramRunner program(home.path());
        const qint64 written = SingleInstance::localNowSeconds() - age;
        writeKey(program.settingsFile(), QStringLiteral("kicked"), QString::number(written));

        program.start();
        // The running program stamps its own liveness at start.
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(readKey(program.settingsFile(), QStringLiteral("kicked")).toLongLong() -
                                      SingleInstance::localNowSeconds()) <= 2,
                                 10000);
        QCOMPARE(program.process().state(), QProcess::Running);
        QVERIFY(!readKey(program.settingsFile(), QStringLiteral("showWindow")).toBool());
    }

    void secondInstanceAsksFirstToShow()
    {
        QTemporaryDir home;
        ProgramRunner first(home.path());
        first.start();
        QTRY_VERIFY_WITH_TIMEOUT(readKey(first.settingsFile(), QStringLiteral("kicked")).toLongLong() > 0, 10000);
        // A stamp written this very second does not count as alive; let it age.
        QTest::qWait(1200);

        ProgramRunner second(home.path());
        QElapsedTimer clock;
        clock.start();
        second.start();
        QVERIFY(second.process().waitForFinished(5000));
        QCOMPARE(second.process().exitCode(), 0);

        // The first instance takes the request and clears the flag.
        QTRY_VERIFY_WITH_TIMEOUT(!readKey(first.settingsFile(), QStringLiteral("showWindow")).toBool(), 3000);
        QCOMPARE(first.process().state(), QProcess::Running);
    }
};

QLK_TEST_MAIN_CORE(TestSingleInstance)
#include "tst_singleinstance.moc"

#include "app/SingleInstance.h"
#include "support/ProgramRunner.h"
#include "support/TestMain.h"

#include <QSettings>
#include <QTemporaryDir>

// The single-instance scheme with the real program: a fresh "kicked" stamp
// makes a second start give way, anything else lets it run. The exact limits
// of "fresh" are tst_startup's; here the program's start-up time would blur them.
class TestSingleInstance : public QObject
{
    Q_OBJECT

    static QVariant value(const ProgramRunner& program, const QString& key)
    {
        return QSettings(program.settingsFile(), QSettings::IniFormat).value(key);
    }

    static bool stampIsNow(const ProgramRunner& program)
    {
        return qAbs(value(program, QStringLiteral("kicked")).toLongLong() - SingleInstance::localNowSeconds()) <= 2;
    }

private slots:
    void initTestCase() { QVERIFY2(!ProgramRunner::programPath().isEmpty(), "QLK_PROGRAM is not set"); }

    void startGivesWayOnlyToAFreshStamp_data()
    {
        QTest::addColumn<int>("age");
        QTest::addColumn<bool>("givesWay");
        QTest::newRow("one second old") << 1 << true;
        QTest::newRow("an hour old") << 3600 << false;
        QTest::newRow("in the future") << -30 << false;
    }

    void startGivesWayOnlyToAFreshStamp()
    {
        QFETCH(int, age);
        QFETCH(bool, givesWay);
        QTemporaryDir home;
        ProgramRunner program(home.path());
        {
            QSettings settings(program.settingsFile(), QSettings::IniFormat);
            settings.setValue(QStringLiteral("kicked"), QString::number(SingleInstance::localNowSeconds() - age));
        }
        program.start();
        if (givesWay) {
            // It asks the running one to show its window and leaves quietly.
            QVERIFY(program.process().waitForFinished(5000));
            QCOMPARE(program.process().exitStatus(), QProcess::NormalExit);
            QCOMPARE(program.process().exitCode(), 0);
            QVERIFY(value(program, QStringLiteral("showWindow")).toBool());
        } else {
            // It runs and stamps its own liveness.
            QTRY_VERIFY_WITH_TIMEOUT(stampIsNow(program), 10000);
            QCOMPARE(program.process().state(), QProcess::Running);
            QVERIFY(!value(program, QStringLiteral("showWindow")).toBool());
        }
    }

    void secondInstanceAsksFirstToShow()
    {
        QTemporaryDir home;
        ProgramRunner first(home.path());
        first.start();
        QTRY_VERIFY_WITH_TIMEOUT(stampIsNow(first), 10000);
        // A stamp written this very second does not count as alive; let it age.
        QTest::qWait(1200);

        ProgramRunner second(home.path());
        second.start();
        QVERIFY(second.process().waitForFinished(5000));
        QCOMPARE(second.process().exitCode(), 0);
        // The first instance takes the request and clears the flag.
        QTRY_VERIFY_WITH_TIMEOUT(!value(first, QStringLiteral("showWindow")).toBool(), 3000);
        QCOMPARE(first.process().state(), QProcess::Running);
    }
};

QLK_TEST_MAIN_CORE(TestSingleInstance)
#include "tst_singleinstance.moc"

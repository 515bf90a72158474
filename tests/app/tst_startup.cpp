#include "app/LanguageChoice.h"
#include "app/LogCapture.h"
#include "app/SingleInstance.h"
#include "app/WindowGeometry.h"
#include "core/PrintClient.h"
#include "support/ProgramRunner.h"
#include "support/TestMain.h"

#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>

#include <thread>
#include <tuple>

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void windowSize_data()
    {
        QTest::addColumn<QSize>("available");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("last narrow width") << QSize(1049, 2000) << QSize(949, 699);
        QTest::newRow("first wide width, tall") << QSize(1050, 800) << QSize(950, 700);
        QTest::newRow("first wide width, one pixel short") << QSize(1050, 799) << QSize(948, 699);
        QTest::newRow("wide and very short") << QSize(1600, 600) << QSize(678, 500);
    }

    void windowSize()
    {
        QFETCH(QSize, available);
        QFETCH(QSize, expected);
        QCOMPARE(WindowGeometry::sizeFor(available), expected);
    }

    void languageChoice_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("file");
        QTest::newRow("brazil") << QString("pt_BR") << QString("/app/printclient_pt");
        QTest::newRow("no country") << QString("es") << QString("/app/printclient_es");
        QTest::newRow("german reads english") << QString("de_DE") << QString("/app/printclient_en");
    }

    void languageChoice()
    {
        QFETCH(QString, locale);
        QFETCH(QString, file);
        QCOMPARE(LanguageChoice::translationFile(QStringLiteral("/app"), locale), file);
    }

    // A stamp of the running copy counts as alive from 5 s ahead (a clock set
    // back) to 5 s old; it is renewed every 4 s. Where a second or two of start-up
    // cannot change the outcome, the real program is started too: on a live stamp
    // it asks the running copy for its window and leaves with exit code 0.
    void stampAge_data()
    {
        QTest::addColumn<qint64>("age");
        QTest::addColumn<bool>("alive");
        QTest::addColumn<bool>("program");
        for (const auto& [age, alive, program] : QList<std::tuple<qint64, bool, bool>>{{-6, false, false},
                                                                                       {-5, true, false},
                                                                                       {-3, true, true},
                                                                                       {0, true, true},
                                                                                       {5, true, false},
                                                                                       {6, false, false},
                                                                                       {3600, false, false}})
            QTest::addRow("%lld s", age) << age << alive << program;
    }
    void stampAge()
    {
        QFETCH(qint64, age);
        QFETCH(bool, alive);
        QFETCH(bool, program);
        QCOMPARE(SingleInstance::isStampAlive(1700000000 + age, 1700000000), alive);
        if (!program)
            return;
        QVERIFY2(!ProgramRunner::programPath().isEmpty(), "QLK_PROGRAM is not set");
        QTemporaryDir home;
        ProgramRunner second(home.path());
        QSettings settings(second.settingsFile(), QSettings::IniFormat);
        settings.setValue("kicked", QString::number(SingleInstance::localNowSeconds() - age));
        settings.sync();
        second.start();
        QVERIFY(second.process().waitForFinished(5000));
        QCOMPARE(second.process().exitCode(), 0);
        settings.sync();
        QVERIFY(settings.value("showWindow").toBool());
    }

    // The running copy takes a window request at its next 200 ms look, not when
    // its next stamp (4 s on) happens to re-read the store.
    void windowRequestTakenAtOnce()
    {
        QVERIFY2(!ProgramRunner::programPath().isEmpty(), "QLK_PROGRAM is not set");
        QTemporaryDir home;
        ProgramRunner program(home.path());
        const auto stamp = [&] {
            QSettings settings(program.settingsFile(), QSettings::IniFormat);
            return settings.value("kicked").toLongLong();
        };
        const qint64 before = SingleInstance::localNowSeconds();
        program.start();
        QTRY_VERIFY_WITH_TIMEOUT(stamp() >= before, 10000);
        // Right after a stamp, so that the next one is about 4 s away.
        const qint64 first = stamp();
        QTRY_VERIFY_WITH_TIMEOUT(stamp() != first, 10000);
        const qint64 current = stamp();
        {
            QSettings settings(program.settingsFile(), QSettings::IniFormat);
            settings.setValue("showWindow", true);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!QSettings(program.settingsFile(), QSettings::IniFormat).value("showWindow").toBool(),
                                 10000);
        QCOMPARE(stamp(), current);
        QVERIFY2(program.stop(), "no clean exit on SIGTERM");
    }

    // Debug and critical lines only, newest first, at most a hundred.
    void logNewestFirstAtMostHundred()
    {
        PrintClient client;
        LogCapture::install(&client);
        const auto uninstall = qScopeGuard(&LogCapture::uninstall);
        qCritical("a critical");
        qWarning("a warning");
        qInfo("some info");
        for (int i = 1; i < LogCapture::maxLines; ++i)
            qDebug("message %d", i);
        QCOMPARE(client.debugMessages().size(), LogCapture::maxLines);
        QVERIFY2(client.debugMessages().last().endsWith("]: a critical"), qPrintable(client.debugMessages().last()));

        qDebug("message 100");
        const QStringList lines = client.debugMessages();
        QCOMPARE(lines.size(), LogCapture::maxLines);
        const QRegularExpression stamp("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]: message 100$");
        QVERIFY2(stamp.match(lines.first()).hasMatch(), qPrintable(lines.first()));
        QVERIFY2(lines.last().endsWith("]: message 1"), qPrintable(lines.last()));
    }

    // Lines logged at once on four threads all arrive, each thread's in its order.
    void logThreadsLoseNothing()
    {
        PrintClient client;
        LogCapture::install(&client);
        const auto uninstall = qScopeGuard(&LogCapture::uninstall);
        std::vector<std::thread> workers;
        for (int t = 0; t < 4; ++t)
            workers.emplace_back([t] {
                for (int i = 0; i < 25; ++i)
                    qDebug("thread %d line %d", t, i);
            });
        for (auto& worker : workers)
            worker.join();

        const QStringList lines = client.debugMessages();
        QCOMPARE(lines.size(), 100);
        for (int t = 0; t < 4; ++t) {
            const QString tag = QStringLiteral("thread %1 line ").arg(t);
            int expected = 25;
            for (const QString& line : lines) {
                if (line.contains(tag))
                    QCOMPARE(line.section(tag, 1).toInt(), --expected);
            }
            QCOMPARE(expected, 0);
        }
    }
};

QLK_TEST_MAIN_CORE(TestStartup)
#include "tst_startup.moc"

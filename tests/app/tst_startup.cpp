#include "app/LanguageChoice.h"
#include "app/LogCapture.h"
#include "app/SingleInstance.h"
#include "app/WindowGeometry.h"
#include "core/PrintClient.h"
#include "support/ProgramRunner.h"
#include "support/TestMain.h"

#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <optional>

class TestStartup : public QObject
{
    Q_OBJECT

    static QVariant value(const ProgramRunner& program, const QString& key)
    {
        return QSettings(program.settingsFile(), QSettings::IniFormat).value(key);
    }

    static void stampKicked(const ProgramRunner& program, qint64 age)
    {
        QSettings(program.settingsFile(), QSettings::IniFormat)
            .setValue("kicked", QString::number(SingleInstance::localNowSeconds() - age));
    }

private slots:
    // Only the log tests (the last ones) run with the capture on.
    void init()
    {
        if (QByteArray(QTest::currentTestFunction()).startsWith("log"))
            LogCapture::install(&m_client.emplace());
    }

    void cleanup()
    {
        if (m_client)
            LogCapture::uninstall();
        m_client.reset();
    }

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
        QTest::newRow("brazil") << "pt_BR"
                                << "/app/printclient_pt";
        QTest::newRow("no country") << "es"
                                    << "/app/printclient_es";
        QTest::newRow("german reads english") << "de_DE"
                                              << "/app/printclient_en";
    }

    void languageChoice()
    {
        QFETCH(QString, locale);
        QFETCH(QString, file);
        QCOMPARE(LanguageChoice::translationFile(QStringLiteral("/app"), locale), file);
    }

    // With the real program: a fresh "kicked" stamp means another instance
    // lives, so a start asks it to show its window and leaves; with a stale
    // stamp the program runs, stamps its own liveness and takes that request.
    void singleInstance()
    {
        QVERIFY2(!ProgramRunner::programPath().isEmpty(), "QLK_PROGRAM is not set");
        QTemporaryDir home;
        ProgramRunner second(home.path());
        stampKicked(second, 1);
        second.start();
        QVERIFY(second.process().waitForFinished(5000));
        QCOMPARE(second.process().exitCode(), 0);
        QVERIFY(value(second, "showWindow").toBool());

        ProgramRunner first(home.path());
        stampKicked(first, 3600);
        first.start();
        QTRY_VERIFY_WITH_TIMEOUT(
            qAbs(value(first, QStringLiteral("kicked")).toLongLong() - SingleInstance::localNowSeconds()) <= 2, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!value(first, "showWindow").toBool(), 5000);
        QCOMPARE(first.process().state(), QProcess::Running);
    }

    // Debug and critical lines only, newest first, at most a hundred.
    void logNewestFirstAtMostHundred()
    {
        qCritical("a critical");
        qWarning("a warning");
        qInfo("some info");
        for (int i = 1; i < LogCapture::maxLines; ++i)
            qDebug("message %d", i);
        QCOMPARE(m_client->debugMessages().size(), LogCapture::maxLines);
        QVERIFY2(m_client->debugMessages().last().endsWith("]: a critical"),
                 qPrintable(m_client->debugMessages().last()));

        qDebug("message 100");
        const QStringList lines = m_client->debugMessages();
        QCOMPARE(lines.size(), LogCapture::maxLines);
        const QRegularExpression stamp("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]: message 100$");
        QVERIFY2(stamp.match(lines.first()).hasMatch(), qPrintable(lines.first()));
        QVERIFY2(lines.last().endsWith("]: message 1"), qPrintable(lines.last()));
    }

    // Lines logged at once on four threads all arrive, each thread's in its order.
    void logThreadsLoseNothing()
    {
        std::vector<std::unique_ptr<QThread>> workers;
        for (int t = 0; t < 4; ++t) {
            workers.emplace_back(QThread::create([t] {
                for (int i = 0; i < 25; ++i)
                    qDebug("thread %d line %d", t, i);
            }));
            workers.back()->start();
        }
        for (auto& worker : workers)
            QVERIFY(worker->wait(10000));

        const QStringList lines = m_client->debugMessages();
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

private:
    std::optional<PrintClient> m_client;
};

QLK_TEST_MAIN_CORE(TestStartup)
#include "tst_startup.moc"

#include "app/HeadlessReport.h"
#include "app/LanguageChoice.h"
#include "app/LogCapture.h"
#include "app/SingleInstance.h"
#include "app/WindowGeometry.h"
#include "core/PrintClient.h"
#include "support/CapturePrinter.h"
#include "support/HttpTestRig.h"
#include "support/ProgramRunner.h"
#include "support/TestMain.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QUrl>

#include <thread>
#include <tuple>

// Starts that could show a window need the X server scripts/test starts.
#define REQUIRE_DISPLAY()                                                                                              \
    do {                                                                                                               \
        if (qEnvironmentVariableIsEmpty("DISPLAY")) {                                                                  \
            QVERIFY2(qEnvironmentVariable("CI") != QLatin1String("true"), "no X server (DISPLAY) under CI");           \
            QSKIP("needs an X server (DISPLAY): scripts/test starts one");                                             \
        }                                                                                                              \
    } while (false)

namespace {

// The program with these variables changed (an empty value removes one); QT_QPA_PLATFORM is
// removed unless given, so that a window would go to the X server.
void setEnvironment(ProgramRunner& program, const QList<QPair<QString, QString>>& changes)
{
    QProcessEnvironment environment = program.process().processEnvironment();
    environment.remove("QT_QPA_PLATFORM");
    for (const auto& [name, value] : changes)
        value.isEmpty() ? environment.remove(name) : environment.insert(name, value);
    program.process().setProcessEnvironment(environment);
}

QSettings store(const ProgramRunner& program)
{
    return {program.settingsFile(), QSettings::IniFormat};
}

// A GET with the program's key over TLS; status 0 until it answers.
HttpTestResponse keyedGet(const ProgramRunner& program, const QByteArray& path)
{
    const QString key = store(program).value("securityKey").toString();
    HttpTestClient client(true, program.certificates());
    if (!client.connectTo(program.port()) ||
        !client.send(HttpTestClient::get(path, "Authorization: Bearer " + key.toUtf8() + "\r\n")))
        return {};
    return client.readResponse();
}

// What a process without a window must not load: the libraries of the tray and the
// window, QML plugins, and the network bearer plugins (with D-Bus) of the version check.
QStringList uiLibraries(qint64 pid)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (!maps.open(QIODevice::ReadOnly))
        return {QStringLiteral("(no maps)")};
    static const QRegularExpression ui(QStringLiteral("/qml/|/bearer/|libQt5(Quick|Qml|Widgets|Svg|DBus)"));
    QStringList found;
    for (const QByteArray& line : maps.readAll().split('\n'))
        if (ui.match(QString::fromLocal8Bit(line)).hasMatch())
            found << QString::fromLocal8Bit(line.mid(line.indexOf('/')));
    found.removeDuplicates();
    return found;
}

} // namespace

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
        QTEST(WindowGeometry::sizeFor(available), "expected");
    }

    // Files are relative to an installation prefix whose program lies in bin/.
    void languageChoice_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("expected");
        const QString shared = "share/quorva-link/translations/printclient_";
        QTest::newRow("brazil") << "pt_BR" << QStringList() << "bin/printclient_pt";
        QTest::newRow("no country") << "es" << QStringList() << "bin/printclient_es";
        QTest::newRow("german reads english") << "de_DE" << QStringList() << "bin/printclient_en";
        QTest::newRow("installed in a prefix") << "es_ES" << QStringList{shared + "es.qm"} << shared + "es";
        QTest::newRow("beside the program wins")
            << "es_ES" << QStringList{"bin/printclient_es.qm", shared + "es.qm"} << "bin/printclient_es";
        QTest::newRow("another language's file does not count")
            << "es_ES" << QStringList{shared + "pt.qm"} << "bin/printclient_es";
    }
    void languageChoice()
    {
        QFETCH(QString, locale);
        QFETCH(QStringList, files);
        QFETCH(QString, expected);
        QTemporaryDir prefix;
        QDir root(prefix.path());
        for (const QString& file : files)
            QVERIFY(root.mkpath(QFileInfo(file).path()) && QFile(root.filePath(file)).open(QIODevice::WriteOnly));
        QCOMPARE(LanguageChoice::translationFile(root.filePath("bin"), locale), root.filePath(expected));
    }

    // A stamp of the running copy counts as alive from 5 s ahead (a clock set back)
    // to 5 s old; it is renewed every 4 s. Where a second or two of start-up cannot
    // change the outcome, the real program is started too: on a live stamp it asks
    // the running copy for its window and leaves with exit code 0.
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
        QFETCH(bool, program);
        QTEST(SingleInstance::isStampAlive(1700000000 + age, 1700000000), "alive");
        if (!program)
            return;
        QVERIFY2(!ProgramRunner::programPath().isEmpty(), "QLK_PROGRAM is not set");
        REQUIRE_DISPLAY();
        QTemporaryDir home;
        ProgramRunner second(home.path());
        store(second).setValue("kicked", QString::number(SingleInstance::localNowSeconds() - age));
        setEnvironment(second, {});
        second.start();
        QVERIFY(second.process().waitForFinished(5000));
        QCOMPARE(second.process().exitCode(), 0);
        QVERIFY(store(second).value("showWindow").toBool());
    }

    // A window start while this user's copy serves headless tells the user, in
    // their language, instead of asking for a window that never comes.
    void secondStartWhileHeadless()
    {
        REQUIRE_DISPLAY();
        QTemporaryDir home;
        ProgramRunner second(home.path());
        {
            QSettings settings = store(second);
            settings.setValue("kicked", QString::number(SingleInstance::localNowSeconds()));
            settings.setValue("headless", true);
        }
        setEnvironment(second, {{"LANG", "es_ES.UTF-8"}, {"LC_ALL", "es_ES.UTF-8"}});
        second.process().setProcessChannelMode(QProcess::SeparateChannels);
        second.start();
        QString error;
        QTRY_VERIFY2_WITH_TIMEOUT(
            (error += QString::fromUtf8(second.process().readAllStandardError())).contains("sin ventana"),
            qPrintable(error), 10000);
        QVERIFY2(error.contains("systemctl --user stop quorva-link"), qPrintable(error));
        QVERIFY(!second.process().waitForFinished(500)); // the message stays until the user closes it
    }

    // A headless start that gives way asks for no window (the tray copy's would pop
    // up); a clean stop takes the stamp back, so a restart at once runs.
    void restartRightAfterStop()
    {
        QTemporaryDir home;
        ProgramRunner first(home.path());
        first.start({"--headless"});
        QTRY_COMPARE_WITH_TIMEOUT(keyedGet(first, "/getStatus").status, 200, 20000);
        ProgramRunner second(home.path());
        second.start({"--headless"});
        QVERIFY(second.process().waitForFinished(10000));
        QCOMPARE(second.process().exitCode(), 0);
        QVERIFY(!store(first).value("showWindow").toBool());
        QVERIFY(first.stop());
        ProgramRunner again(home.path());
        again.start({"--headless"});
        QTRY_COMPARE_WITH_TIMEOUT(keyedGet(again, "/getStatus").status, 200, 20000);
        QVERIFY(again.stop());
    }

    // The running copy takes a window request at its next 200 ms look, not when its next
    // stamp (4 s on) re-reads the store. With no screen to show it on (offscreen), it loads no window.
    void windowRequestTakenAtOnce()
    {
        QVERIFY2(!ProgramRunner::programPath().isEmpty(), "QLK_PROGRAM is not set");
        QTemporaryDir home;
        ProgramRunner program(home.path());
        const auto stamp = [&] { return store(program).value("kicked").toLongLong(); };
        const qint64 before = SingleInstance::localNowSeconds();
        program.start();
        QTRY_VERIFY_WITH_TIMEOUT(stamp() >= before, 10000);
        // Right after a stamp, so that the next one is about 4 s away.
        const qint64 first = stamp();
        QTRY_VERIFY_WITH_TIMEOUT(stamp() != first, 10000);
        const qint64 current = stamp();
        store(program).setValue("showWindow", true);
        QTRY_VERIFY_WITH_TIMEOUT(!store(program).value("showWindow").toBool(), 10000);
        QCOMPARE(stamp(), current);
        QTest::qWait(500);
        QCOMPARE(uiLibraries(program.process().processId()), QStringList());
        QVERIFY2(program.stop(), "no clean exit on SIGTERM");
    }

    // --headless serves on the offscreen platform whatever display the session names (one that
    // does not exist, where a start with a window ends at once), says where the settings are, and
    // prints the key to a terminal only: the service manager's journal is a log. Without any
    // display, a start serves as --headless does instead of ending in Qt's platform error.
    void headless_data()
    {
        QTest::addColumn<bool>("option");
        QTest::newRow("--headless, display gone") << true;
        QTest::newRow("no display at all") << false;
    }
    void headless()
    {
        QFETCH(bool, option);
        QTemporaryDir config;
        ProgramRunner program(config.path());
        setEnvironment(program, {{"DISPLAY", option ? ":64999" : ""}, {"WAYLAND_DISPLAY", ""}});
        program.start(option ? QStringList{"--headless"} : QStringList());
        QTRY_COMPARE_WITH_TIMEOUT(keyedGet(program, "/getStatus").status, 200, 20000);
        if (option) {
            const QString key = store(program).value("securityKey").toString();
            QString output;
            QTRY_VERIFY_WITH_TIMEOUT((output += program.process().readAllStandardOutput()).contains("Security key:"),
                                     5000);
            QVERIFY2(output.contains(QStringLiteral("Serving https://localhost:%1\n").arg(program.port())) &&
                         output.contains("Settings: " + program.settingsFile() + "\n") && !key.isEmpty() &&
                         !output.contains(key),
                     qPrintable(output));
            PrintClient client;
            client.setSecurityKey(key);
            QVERIFY(
                HeadlessReport::text(client, program.settingsFile(), true).contains("\nSecurity key: " + key + "\n"));
        }
        // The program built without them serves, in place of the one started.
        QCOMPARE(uiLibraries(program.process().processId()), QStringList());
        QCOMPARE(QFileInfo(QStringLiteral("/proc/%1/exe").arg(program.process().processId())).symLinkTarget(),
                 QFileInfo(program.programPath()).absolutePath() + "/quorva-link-headless");
        QVERIFY(program.stop()); // the user service stops it with SIGTERM
    }

    // A till without a desktop switches its printers on the command line; the
    // service then offers them to the web application.
    void devicesOnTheCommandLine()
    {
        QLK_REQUIRE_CUPS();
        CapturePrinter printer(QStringLiteral("qlk-devices"));
        QVERIFY2(printer.isValid(), qPrintable(printer.errorString()));
        const QString queue = printer.queueName();
        QTemporaryDir config;
        QString output;
        const auto run = [&](const QStringList& arguments) {
            ProgramRunner command(config.path());
            command.start(arguments);
            command.process().waitForFinished(20000);
            output = QString::fromLocal8Bit(command.process().readAllStandardOutput());
            return command.process().exitStatus() == QProcess::NormalExit ? command.process().exitCode() : -1;
        };
        const auto listed = [&](const char* state) {
            QCOMPARE(run({"--devices"}), 0);
            QVERIFY2(output.contains(QStringLiteral("  %1 %2\n").arg(state, queue)), qPrintable(output));
        };
        listed("off ");
        QCOMPARE(run({"--enable", "no-such-printer"}), 1);
        QCOMPARE(run({"--enable"}), 2);
        QCOMPARE(run({"--enable", queue}), 0);
        QVERIFY2(output.contains("Printer " + queue + ": on"), qPrintable(output));
        listed("on  ");
        // This user's instance of the queue ("queue/instance" in lpoptions) is a printer of
        // its own; its jobs go to the queue.
        const QString instance = queue + "/till";
        QVERIFY(QDir(config.path()).mkpath(".cups"));
        QFile options(config.path() + "/.cups/lpoptions");
        QVERIFY(options.open(QIODevice::WriteOnly) && options.write("Dest " + instance.toUtf8() + "\n") > 0);
        options.close();
        QCOMPARE(run({"--enable", instance}), 0);
        ProgramRunner program(config.path());
        program.start({"--headless"});
        QTRY_VERIFY_WITH_TIMEOUT(keyedGet(program, "/getPrinters").body.contains(instance.toUtf8()), 20000);
        const HttpTestResponse sent =
            keyedGet(program, "/sendJob?printer=" + QUrl::toPercentEncoding(instance) +
                                  "&job=" + QUrl::toPercentEncoding(R"([{"op":"text","data":"till"}])"));
        QVERIFY2(sent.body.contains("Job completed successfully"), sent.body.constData());
        QVERIFY(printer.waitForJobs(1) && printer.jobs().first().contains("till"));
        QVERIFY(program.stop());
        QCOMPARE(run({"--disable", queue}), 0);
        listed("off ");
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
            for (const QString& line : lines)
                if (line.contains(tag))
                    QCOMPARE(line.section(tag, 1).toInt(), --expected);
            QCOMPARE(expected, 0);
        }
    }
};

QLK_TEST_MAIN_CORE(TestStartup)
#include "tst_startup.moc"

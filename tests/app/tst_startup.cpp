#include "app/LogCapture.h"
#include "app/SingleInstance.h"
#include "core/PrintClient.h"
#include "support/CapturePrinter.h"
#include "support/ProgramRunner.h"
#include "support/TestMain.h"

#include <QRegularExpression>
#include <QScopeGuard>
#include <QUrl>

#include <csignal>
#include <thread>
#include <tuple>

namespace {

// Empty when a headless program serves: the one built without the window's libraries (in place of the one started),
// mapping no Qt Quick, Widgets, QML, nor the version check's bearer plugins (with D-Bus); else what is wrong.
QStringList windowParts(ProgramRunner& program)
{
    const qint64 pid = program.process().processId();
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (!maps.open(QIODevice::ReadOnly))
        return {QStringLiteral("(no maps)")};
    QStringList found{QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget()};
    if (found.first() == QFileInfo(ProgramRunner::programPath()).absolutePath() + "/quorva-link-headless")
        found.clear();
    static const QRegularExpression ui(QStringLiteral("/qml/|/bearer/|libQt5(Quick|Qml|Widgets|Svg|DBus)"));
    for (const QByteArray& line : maps.readAll().split('\n'))
        if (ui.match(QString::fromLocal8Bit(line)).hasMatch())
            found << QString::fromLocal8Bit(line.mid(line.indexOf('/')));
    found.removeDuplicates();
    return found;
}

// No platform given and only this X display (none if empty), so that a window would go there.
void setDisplay(ProgramRunner& program, const QString& display)
{
    QProcessEnvironment environment = program.process().processEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(name);
    if (!display.isEmpty())
        environment.insert("DISPLAY", display);
    program.process().setProcessEnvironment(environment);
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(!ProgramRunner::programPath().isEmpty(), "QLK_PROGRAM is not set"); }

    // A stamp (renewed every 4 s) is alive from 5 s ahead (a clock set back) to 5 s old. A window start beside a live
    // copy asks for its window and leaves with 0; beside a headless one it tells the user how to stop that one.
    void stampAge_data()
    {
        QTest::addColumn<qint64>("age");
        QTest::addColumn<bool>("alive");
        QTest::addColumn<int>("start"); // 0: none, 1: a window start, 2: a window start beside a headless copy
        const QList<std::tuple<qint64, bool, int>> rows{{-6, false, 0}, {-5, true, 0}, {-3, true, 1},    {0, true, 1},
                                                        {5, true, 0},   {6, false, 0}, {3600, false, 0}, {0, true, 2}};
        for (const auto& [age, alive, start] : rows)
            QTest::addRow("%lld s%s", age, start == 2 ? ", headless copy" : "") << age << alive << start;
    }
    void stampAge()
    {
        QFETCH(qint64, age);
        QFETCH(int, start);
        QTEST(SingleInstance::isStampAlive(1700000000 + age, 1700000000), "alive");
        if (!start)
            return;
        QLK_REQUIRE_PART(qEnvironmentVariableIsEmpty("DISPLAY") ? "needs an X server (DISPLAY): scripts/test starts one"
                                                                : "");
        ProgramRunner second;
        second.settings().setValue("kicked", QString::number(SingleInstance::localNowSeconds() - age));
        second.settings().setValue("headless", start == 2);
        setDisplay(second, qEnvironmentVariable("DISPLAY"));
        second.process().setProcessChannelMode(QProcess::SeparateChannels);
        second.start();
        if (start == 1) {
            QVERIFY(second.process().waitForFinished(5000) && second.process().exitCode() == 0 &&
                    second.settings().value("showWindow").toBool());
            return;
        }
        QString error;
        QTRY_VERIFY2_WITH_TIMEOUT((error += QString::fromUtf8(second.process().readAllStandardError()))
                                      .contains("systemctl --user stop quorva-link"),
                                  qPrintable(error), 10000);
        QVERIFY(!second.process().waitForFinished(500)); // the message stays until the user closes it
    }

    // --headless serves whatever display the session names, prints the key to a terminal only (the journal is a log)
    // and takes a window request within 200 ms; a clean stop takes the stamp back, so a start without display serves.
    void headless()
    {
        QTemporaryDir home;
        ProgramRunner first(home.path()), again(home.path());
        setDisplay(first, ":64999");
        first.start({"--headless"});
        QTRY_COMPARE_WITH_TIMEOUT(first.keyedGet("/getStatus").status, 200, 20000);
        const QString key = first.settings().value("securityKey").toString();
        QString output;
        QTRY_VERIFY_WITH_TIMEOUT((output += first.process().readAllStandardOutput()).contains("Security key:"), 5000);
        QVERIFY2(!key.isEmpty() && !output.contains(key), qPrintable(output));
        QCOMPARE(windowParts(first), QStringList());

        const auto stamp = [&] { return first.settings().value("kicked").toLongLong(); };
        const qint64 stamped = stamp(); // wait for a fresh stamp: the next is about 4 s away
        QTRY_VERIFY_WITH_TIMEOUT(stamp() != stamped, 10000);
        const qint64 current = stamp();
        first.settings().setValue("showWindow", true);
        QTRY_VERIFY_WITH_TIMEOUT(!first.settings().value("showWindow").toBool(), 10000);
        QCOMPARE(stamp(), current);
        // A headless (offscreen) start gives way asking for no window; the first, stopped, cannot clear a request.
        ProgramRunner second(home.path());
        QVERIFY(::kill(pid_t(first.process().processId()), SIGSTOP) == 0);
        second.start();
        const bool gaveWay = second.process().waitForFinished(10000) && second.process().exitCode() == 0;
        const bool asked = first.settings().value("showWindow").toBool();
        ::kill(pid_t(first.process().processId()), SIGCONT);
        QVERIFY(gaveWay && !asked);
        QVERIFY2(first.stop(), "no clean exit on SIGTERM"); // as the user service stops it

        setDisplay(again, {});
        again.start();
        QTRY_COMPARE_WITH_TIMEOUT(again.keyedGet("/getStatus").status, 200, 20000);
        QCOMPARE(windowParts(again), QStringList());
        QVERIFY2(again.stop(), "no clean exit on SIGTERM");
    }

    // A till without a desktop switches its printers on the command line; the service then offers them.
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
        QCOMPARE(run({"--enable", queue}), 0);
        listed("on  ");
        // This user's instance of the queue ("queue/instance" in lpoptions) is a printer whose jobs go to the queue.
        const QString instance = queue + "/till";
        QVERIFY(QDir(config.path()).mkpath(".cups"));
        QFile options(config.path() + "/.cups/lpoptions");
        QVERIFY(options.open(QIODevice::WriteOnly) && options.write("Dest " + instance.toUtf8() + "\n") > 0);
        options.close();
        QCOMPARE(run({"--enable", instance}), 0);
        ProgramRunner program(config.path());
        program.start({"--headless"});
        QTRY_VERIFY_WITH_TIMEOUT(program.keyedGet("/getPrinters").body.contains(instance.toUtf8()), 20000);
        const HttpTestResponse sent =
            program.keyedGet("/sendJob?printer=" + QUrl::toPercentEncoding(instance) +
                             "&job=" + QUrl::toPercentEncoding(R"([{"op":"text","data":"till"}])"));
        QVERIFY2(sent.body.contains("Job completed successfully"), sent.body.constData());
        QVERIFY(printer.waitForJobs(1) && printer.jobs().first().contains("till"));
        QVERIFY(program.stop());
        QCOMPARE(run({"--disable", queue}), 0);
        listed("off ");
    }

    // Four threads at once lose no line nor reorder one (newest first); at most a hundred are kept.
    void logCapture()
    {
        PrintClient client;
        LogCapture::install(&client);
        const auto uninstall = qScopeGuard(&LogCapture::uninstall);
        qDebug("pushed out");
        std::vector<std::thread> workers;
        for (int t = 0; t < 4; ++t)
            workers.emplace_back([t] {
                for (int i = 0; i < LogCapture::maxLines / 4; ++i)
                    qDebug("thread %d line %d", t, i);
            });
        for (auto& worker : workers)
            worker.join();
        QCOMPARE(client.debugMessages().size(), LogCapture::maxLines);
        for (int t = 0; t < 4; ++t) {
            const QString tag = QStringLiteral("thread %1 line ").arg(t);
            int expected = LogCapture::maxLines / 4;
            for (const QString& line : client.debugMessages())
                if (line.contains(tag))
                    QCOMPARE(line.section(tag, 1).toInt(), --expected);
            QCOMPARE(expected, 0);
        }
    }
};

QLK_TEST_MAIN_CORE(TestStartup)
#include "tst_startup.moc"

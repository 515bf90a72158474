#include "UiRig.h"
#include "app/ClientMirror.h"
#include "app/WindowLink.h"
#include "app/WindowProgram.h"
#include "app/WindowStateSource.h"
#include "memory/XWindowCloser.h"
#include "support/CupsQueue.h"
#include "support/ProgramRunner.h"
#include "support/TestMain.h"

#include <QClipboard>
#include <QRegularExpression>

#include <algorithm>
#include <array>

#include <fcntl.h>
#include <sys/socket.h>

// The window in a process of its own: the documents over a mirror of the state object, and the real program,
// whose tray process never runs the declarative engine.
class TestWindowProcess : public QObject
{
    Q_OBJECT

    static bool maps(qint64 pid, const char* part)
    {
        QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
        return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(part);
    }
    // Mapped by a process that loaded the documents: the plugins of their imports.
    static bool mapsQml(qint64 pid) { return maps(pid, "/qml/QtQuick"); }
    static QObject* rowNamed(const QVariant& rows, const QString& name)
    {
        for (const QVariant& row : rows.toList())
            if (row.value<QObject*>()->property("name") == name)
                return row.value<QObject*>();
        return nullptr;
    }
    static QList<QByteArray> arguments(qint64 pid)
    {
        QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
        return file.open(QIODevice::ReadOnly) ? file.readAll().split('\0') : QList<QByteArray>();
    }
    static QList<qint64> children(qint64 pid)
    {
        QFile file(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
        QList<qint64> pids;
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray& child : file.readAll().split(' '))
                if (child.trimmed().toLongLong() > 0)
                    pids.append(child.trimmed().toLongLong());
        return pids;
    }

    // The newest value the window sent under the key; none when it sent none.
    static QVariant lastSent(const QSignalSpy& received, const char* key)
    {
        QVariant value;
        for (const QList<QVariant>& message : received)
            value = message.first().toMap().value(key, value);
        return value;
    }
    struct StartedClient
    {
        StartedClient()
        {
            client.setListenerPort(0);
            client.init();
        }
        PrintClient client;
    };
    static std::array<int, 2> socketPair()
    {
        std::array<int, 2> pair{-1, -1};
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair.data());
        return pair;
    }
    // The program's state object and a window's program, over a real socket pair as between the two processes.
    struct Linked : StartedClient
    {
        const std::array<int, 2> pair = socketPair();
        WindowLink programEnd{pair[0]}, windowEnd{pair[1]};
        WindowStateSource source{&client, &programEnd};
        WindowProgram window{&windowEnd};
    };

private slots:
    void initTestCase() { UiRig::setUpProcess(); }

    // Over a real socket pair, as between the two processes: values both ways, rows, calls, and what is refused.
    void mirror()
    {
        const CupsQueue queue(CupsQueue::uniqueName("qlk-mirror"), "socket://127.0.0.1:9");
        Linked linked;
        PrintClient& client = linked.client;
        WindowLink& programEnd = linked.programEnd;
        QVERIFY(linked.pair[0] >= 0);
        QTRY_VERIFY(client.started());
        ClientMirror& mirror = *linked.window.client();
        QTRY_COMPARE(mirror.value("securityKey").toString(), client.securityKey());
        QVERIFY(mirror.value("serverActive").toBool());

        WindowHost& host = *linked.window.host();
        QSignalSpy received(&programEnd, &WindowLink::received);
        programEnd.send({{"show", true}});
        QTRY_VERIFY(host.window() && host.window()->isExposed());
        QTRY_COMPARE(lastSent(received, "shown"), QVariant(true));
        QCOMPARE(host.engine()->rootContext()->contextProperty("RELEASENAME").toString(), client.version());
        // The window's switch reaches the program; the program's change reaches the window.
        QQuickItem* serviceSwitch = UiRig::find(host.window()->contentItem(), "serviceSwitch");
        const QQuickItem* area = UiRig::find(serviceSwitch, "switchArea");
        QTest::mouseClick(host.window(), Qt::LeftButton, {}, area->mapToScene(area->boundingRect().center()).toPoint());
        QTRY_VERIFY(!client.serverActive());
        client.setServerActive(true);
        QTRY_VERIFY(serviceSwitch->property("checked").toBool());
        // Only the window's own switches are set: anything else keeps the program's value, shown again.
        const QString key = client.securityKey();
        QVERIFY(QQmlProperty::write(&mirror, "securityKey", "guessed")); // as the documents would write it
        QTRY_COMPARE(mirror.value("securityKey").toString(), key);
        QCOMPARE(client.securityKey(), key);

        // The printer row: its switch and test print act on the real printer.
        QObject* row = nullptr;
        QTRY_VERIFY((row = rowNamed(mirror.value("printers"), queue.name())));
        Printer* printer = nullptr;
        for (Printer* candidate : client.uiPrinterList())
            printer = candidate->name() == queue.name() ? candidate : printer;
        QVERIFY(printer && !printer->available());
        QVERIFY(QQmlProperty::write(row, "available", true));
        QTRY_VERIFY(printer->available());
        QVERIFY(QMetaObject::invokeMethod(row, "printTest", Q_ARG(bool, false)));
        QTRY_VERIFY(printer->testPrint() != Printer::TestNone);
        QTRY_COMPARE(row->property("testPrint").toInt(), int(printer->testPrint()));

        mirror.clipboard("copied key"); // kept by the program, so it outlives the window's process
        QTRY_COMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("copied key"));
        // Hidden, then released: the program learns both, and what the window showed.
        host.setReleaseDelay(0);
        QTRY_VERIFY(QMetaObject::invokeMethod(host.window(), "openAbout"));
        host.window()->close();
        QTRY_COMPARE(lastSent(received, "shown"), QVariant(false));
        QTRY_VERIFY(lastSent(received, "released").toMap().value("aboutOpen").toBool());
    }

    // Prepared as the tray menu opens: the documents load hidden, a show then needs no load, and a window never
    // shown goes after the delay with the place it was given, not the unshown window's.
    void prepared_data()
    {
        QTest::addColumn<QVariantMap>("place");
        QTest::addColumn<bool>("show");
        const QVariantMap earlier{
            {"page", "config"}, {"pagePicked", true}, {"aboutOpen", false}, {"position", QPoint(123, 45)}};
        QTest::newRow("first time, never shown") << QVariantMap() << false;
        QTest::newRow("shown before, not now") << earlier << false;
        QTest::newRow("shown") << QVariantMap() << true;
    }
    void prepared()
    {
        QFETCH(QVariantMap, place);
        QFETCH(bool, show);
        Linked linked;
        WindowLink& programEnd = linked.programEnd;
        QVERIFY(linked.pair[0] >= 0);
        WindowHost& host = *linked.window.host();
        host.setReleaseDelay(1000);
        QSignalSpy received(&programEnd, &WindowLink::received);
        programEnd.send({{"place", place}});
        programEnd.send({{"prepare", true}});
        QTRY_VERIFY(host.window());
        const QQmlApplicationEngine* engine = host.engine();
        if (show) {
            programEnd.send({{"show", true}});
            QTRY_VERIFY(host.window()->isExposed());
            QCOMPARE(host.engine(), engine);
            host.window()->close();
        }
        QTRY_VERIFY(lastSent(received, "released").isValid());
        // Released, it answers no more prepares: the program then starts a new process for one.
        programEnd.send({{"prepare", true}});
        QTest::qWait(300);
        QVERIFY(!host.window());
        QCOMPARE(
            std::count_if(received.begin(), received.end(),
                          [](const QList<QVariant>& message) { return message.first().toMap().contains("prepared"); }),
            1);
        const QVariantMap releasedPlace = lastSent(received, "released").toMap();
        QCOMPARE(lastSent(received, "shown").isValid(), show);
        if (show)
            QVERIFY(releasedPlace.contains("position"));
        else
            QCOMPARE(releasedPlace, place);
    }

    // The real program: the window's process comes when asked, goes once hidden a while, and comes back.
    void program()
    {
        ProgramRunner program;
        QProcessEnvironment environment = program.process().processEnvironment();
        environment.remove("QT_QPA_PLATFORM");
        environment.insert("QUORVA_LINK_WINDOW_RELEASE_MS", "1500");
        environment.insert("QT_QUICK_BACKEND", "software"); // as on a till without a graphics card
        program.process().setProcessEnvironment(environment);
        program.process().setProcessChannelMode(QProcess::SeparateChannels); // the window's process's too
        program.configure({{"licenseAccepted", true}, {"securityKey", "Ab3dE9gHv4.0"}});
        program.start();
        const qint64 pid = program.process().processId();
        QTest::qWait(1000);
        QVERIFY(children(pid).isEmpty());
        for (int round = 0; round < 2; ++round) {
            program.settings().setValue("showWindow", true); // as a second start asks
            QTRY_VERIFY_WITH_TIMEOUT(children(pid).size() == 1 && mapsQml(children(pid).first()), 15000);
            QTRY_VERIFY(XWindowCloser::isShown("Quorva Link"));
            // Its end of the socket is closed on exec: a browser or certutil it starts cannot talk to the program.
            const qint64 window = children(pid).first();
            QFile info(
                QStringLiteral("/proc/%1/fdinfo/%2").arg(window).arg(QString::fromLatin1(arguments(window).value(2))));
            QVERIFY(info.open(QIODevice::ReadOnly));
            const QByteArray flags =
                QRegularExpression("flags:\\s*(\\d+)").match(info.readAll()).captured(1).toLatin1();
            QVERIFY2(flags.toInt(nullptr, 8) & O_CLOEXEC, flags.constData());
            // Nor does it get the tray program's own choice against OpenGL, which a browser it starts would inherit.
            QFile environ(QStringLiteral("/proc/%1/environ").arg(window));
            QVERIFY(environ.open(QIODevice::ReadOnly) && !environ.readAll().contains("QT_XCB_GL_INTEGRATION"));
            QVERIFY(!mapsQml(pid));
            QVERIFY(XWindowCloser::close("Quorva Link"));
            QTRY_VERIFY_WITH_TIMEOUT(children(pid).isEmpty(), 15000);
        }
        // The tray menu opening starts the window's process with the window hidden; "Abrir" shows it from there.
        QLK_REQUIRE_PART(QStandardPaths::findExecutable("xdotool").isEmpty() ? "xdotool is not installed" : "");
        const auto xdotool = [](const QStringList& arguments) {
            QProcess tool;
            tool.start("xdotool", arguments);
            return tool.waitForFinished(10000) ? tool.readAllStandardOutput().trimmed() : QByteArray();
        };
        const QByteArray icon =
            xdotool({"search", "--onlyvisible", "--pid", QString::number(pid), "--name", "^QuorvaLink$"});
        QLK_REQUIRE_PART(icon.isEmpty() ? "no tray host shows the program's icon" : "");
        xdotool({"mousemove", "--window", icon, "5", "5", "click", "3"});
        QTRY_VERIFY_WITH_TIMEOUT(children(pid).size() == 1 && mapsQml(children(pid).first()), 15000);
        QVERIFY(!XWindowCloser::isShown("Quorva Link"));
        const QList<qint64> prepared = children(pid);
        xdotool({"key", "Down", "Return"});
        QTRY_VERIFY(XWindowCloser::isShown("Quorva Link"));
        QCOMPARE(children(pid), prepared);
        QVERIFY(XWindowCloser::close("Quorva Link"));
        QTRY_VERIFY_WITH_TIMEOUT(children(pid).isEmpty(), 15000);
        QVERIFY(!mapsQml(pid));
        // Nor the OpenGL stack, which Qt's X11 platform would load for the menu's window and keep.
        QVERIFY(!maps(pid, "_dri.so") && !maps(pid, "libLLVM"));
        QVERIFY(program.stop());
        // Only a socket the program hands over will do (not a file, not a closed descriptor).
        for (const char* channel : {"0", "999"}) {
            QProcess bogus;
            bogus.setStandardInputFile(QProcess::nullDevice());
            bogus.start(ProgramRunner::programPath(), {"--window-channel", channel});
            QVERIFY(bogus.waitForFinished(10000) && bogus.exitCode() == 2);
        }
        const QByteArray log = program.process().readAllStandardError(); // a crash or a leak report of a window
        QVERIFY2(!log.contains("WindowProcess:") && !log.contains("Sanitizer"), log.constData());
    }
};

QLK_TEST_MAIN(TestWindowProcess)
#include "tst_windowprocess.moc"

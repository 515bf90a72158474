#include "UiRig.h"
#include "support/ApiClient.h"
#include "support/CupsQueue.h"
#include "support/TestMain.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTcpServer>

#include <memory>
#include <pty.h>

// The window and the tray as the user meets them, in Portuguese (languages() in English and Spanish too).
class TestUi : public QObject
{
    Q_OBJECT

    std::unique_ptr<CupsQueue> m_queue; // listed on the printers page; nobody prints to it

    // Service on or off as seen everywhere: client, tray icon and entry, start page (once loaded).
    static void expectService(UiRig& rig, bool on)
    {
        QCOMPARE(rig.client()->property("serverActive").toBool(), on);
        QCOMPARE(rig.object("trayIcon")->property("iconSource").toString(),
                 QStringLiteral("qrc:/imgs/ic_systray_%1.png").arg(on ? "on" : "off"));
        QCOMPARE(rig.object("trayService")->property("text").toString(), on ? "Desligar serviço" : "Ligar serviço");
        if (rig.window())
            QCOMPARE(rig.item("serviceSwitch")->property("checked").toBool(), on);
    }

private slots:
    void initTestCase()
    {
        UiRig::setUpProcess();
        m_queue = std::make_unique<CupsQueue>(CupsQueue::uniqueName("Balcao_Recibos"), "socket://127.0.0.1:9");
        int master = -1, slave = -1; // a simulated Ingenico terminal for the terminal page, open until the end
        char path[128] = {};
        if (openpty(&master, &slave, path, nullptr, nullptr) == 0)
            qputenv("QUORVA_LINK_SIMULATED_PORTS", QByteArray(path) + "=0B00:0060");
    }

    // Every rig starts with the service switched on, whatever an earlier one left in the store.
    void init() { QSettings().setValue("serverActive", true); }

    // The system language's texts (the other runs: en_US, es_ES); Spanish-speaking markets have no payment terminals.
    void languages()
    {
        UiRig rig;
        QVERIFY(rig.showWindow());
        rig.setState("allSet");
        QTRY_COMPARE(rig.shown("terminalCard"), LanguageChoice::systemLanguage() != QLatin1String("es"));
        rig.setState("showLicense");
        const QMap<QString, QString> accept{{"pt", "ACEITO OS TERMOS DE UTILIZAÇÃO DO QUORVA"},
                                            {"en", "I ACCEPT QUORVA'S TERMS AND CONDITIONS"},
                                            {"es", "ACEPTO LAS CONDICIONES DE UTILIZACIÓN DE QUORVA"}};
        QCOMPARE(rig.item("acceptButton")->childItems().first()->property("text").toString(),
                 accept.value(LanguageChoice::systemLanguage()));
    }

    void trayMenuSwitchAndIconFollowEachOther()
    {
        QVERIFY(trayAvailable());
        UiRig rig;
        QObject* tray = rig.object("trayIcon");
        QVERIFY(tray && tray->property("available").toBool() && tray->property("visible").toBool());
        // The tray works with the window never opened, and does not load it.
        expectService(rig, true);
        QVERIFY(QMetaObject::invokeMethod(rig.object("trayService"), "triggered"));
        expectService(rig, false);
        QVERIFY(!rig.engine());
        // The menu opening loads the documents hidden, and "Abrir" shows them without loading again.
        QVERIFY(QMetaObject::invokeMethod(rig.tray()->contextMenu(), "aboutToShow"));
        const QQmlApplicationEngine* engine = rig.engine();
        QVERIFY(engine && !rig.windowVisible());
        QVERIFY(QMetaObject::invokeMethod(rig.object("trayOpen"), "triggered"));
        QTRY_VERIFY(rig.windowVisible());
        QCOMPARE(rig.engine(), engine);
        QVERIFY(rig.click(rig.item("switchArea", rig.item("serviceSwitch"))));
        expectService(rig, true);
        // The switch keeps following the menu after the user has clicked it.
        QVERIFY(QMetaObject::invokeMethod(rig.object("trayService"), "triggered"));
        expectService(rig, false);
    }

    // Hidden a while, the documents go (in the program, with the window's process); "Abrir" restores page (if none
    // picked, the progress's), About overlay and place. Shown again in time, nothing reloads.
    void windowReleasedAndRestored_data()
    {
        QTest::addColumn<QString>("picked"); // empty: none, so an update found while away shows its page
        QTest::addColumn<bool>("about");
        QTest::newRow("picked page") << "config" << false;
        QTest::newRow("picked page, About open") << "terminals" << true;
        QTest::newRow("no page picked") << "" << false;
    }
    void windowReleasedAndRestored()
    {
        QFETCH(QString, picked);
        QFETCH(bool, about);
        UiRig rig;
        rig.host()->setReleaseDelay(400);
        QSignalSpy released(rig.host(), &WindowHost::released);
        QVERIFY(rig.showWindow());
        if (!picked.isEmpty())
            rig.setState(picked);
        if (about)
            QVERIFY(QMetaObject::invokeMethod(rig.window(), "openAbout") && rig.item("overlayAbout"));
        const QPoint position = rig.window()->position();
        const QQmlApplicationEngine* engine = rig.engine();
        rig.window()->close();
        QVERIFY(rig.showWindow());
        QTest::qWait(800);
        QVERIFY(released.isEmpty() && rig.engine() == engine);
        rig.window()->close();
        QTRY_COMPARE(released.count(), 1);
        QVERIFY(!rig.engine() && !rig.window());

        rig.client()->setProperty("hasUpdate", true);
        QVERIFY(QMetaObject::invokeMethod(rig.object("trayOpen"), "triggered"));
        QTRY_VERIFY(rig.windowVisible());
        QCOMPARE(rig.state(), picked.isEmpty() ? QStringLiteral("loading") : picked);
        QCOMPARE(rig.item("overlayAbout") != nullptr, about);
        QCOMPARE(rig.window()->position(), position);
    }

    // Shown on the first start, on the terms: no server until they are accepted, then it starts at once. On a normal
    // start only with no tray to reach it from (tst_ui_notray), or once its icon or notification is clicked (a right
    // click: the menu, even on a notification, which Qt's X11 tray reports as the notification clicked first).
    void windowAtStart_data()
    {
        QTest::addColumn<bool>("firstStart");
        QTest::addColumn<bool>("notification");
        QTest::addColumn<int>("reason"); // QSystemTrayIcon::ActivationReason; 0: none
        QTest::addColumn<bool>("shown");
        QTest::newRow("first start") << true << false << 0 << true;
        QTest::newRow("normal start") << false << false << 0 << false;
        QTest::newRow("normal start, click") << false << false << int(QSystemTrayIcon::Trigger) << true;
        QTest::newRow("normal start, double click") << false << false << int(QSystemTrayIcon::DoubleClick) << true;
        QTest::newRow("normal start, right click") << false << false << int(QSystemTrayIcon::Context) << false;
        QTest::newRow("notification clicked") << false << true << 0 << true;
        QTest::newRow("right click on a notification") << false << true << int(QSystemTrayIcon::Context) << false;
    }
    void windowAtStart()
    {
        QFETCH(bool, firstStart);
        QFETCH(bool, notification);
        QFETCH(int, reason);
        QFETCH(bool, shown);
        const bool tray = !qEnvironmentVariableIsSet("QLK_NO_TRAY");
        QCOMPARE(trayAvailable(), tray);
        QSettings().setValue("securityKey", firstStart ? QVariant() : "Ab3dE9gHv4.0");
        QSettings().setValue("licenseAccepted", !firstStart);
        UiRig rig;
        if (notification)
            emit rig.tray()->messageClicked();
        if (reason)
            emit rig.tray()->activated(QSystemTrayIcon::ActivationReason(reason));
        QCoreApplication::processEvents();
        QCOMPARE(rig.windowVisible(), shown || !tray);
        if (!firstStart)
            return;
        QVERIFY(rig.showWindow());
        QCOMPARE(rig.state(), QStringLiteral("showLicense"));
        QVERIFY(rig.shown("licensePage") && !rig.client()->listener() && !rig.client()->started());
        QVERIFY(rig.click(rig.item("acceptButton")));
        QVERIFY(rig.client()->serverListening());
        QCOMPARE(ApiClient(rig.client()->listener()->serverPort()).request("GET", "/").status, 200);
        QTRY_COMPARE(rig.state(), QStringLiteral("allSet"));
        QVERIFY(QSettings().value("licenseAccepted").toBool());
    }

    // A port another program holds: stopped, with the port and the cause (logged as critical, told once), tried
    // again until it is free, then active by itself; switched off, no more tries.
    void portTaken()
    {
        auto holder = std::make_unique<QTcpServer>();
        QVERIFY(holder->listen(QHostAddress::Any));
        const quint16 port = holder->serverPort();
        const QString stopped = "Serviço de impressão parado: não foi possível usar a porta " + QString::number(port) +
                                " (já está a ser usada por outro programa).";
        const QRegularExpression bindFailed(QStringLiteral("^HttpListener: Cannot bind on port %1: ").arg(port));
        QTest::ignoreMessage(QtCriticalMsg, bindFailed);
        UiRig rig(port);
        PrintClient* client = rig.client();
        client->serverSwitch()->setRetryInterval(100);
        QVERIFY(rig.showWindow());
        const auto serviceShown = [&rig](const QString& state, const QString& icon) {
            return rig.item("serviceStateText")->property("text").toString() == state &&
                   rig.object("trayIcon")->property("iconSource").toString() == "qrc:/imgs/" + icon;
        };
        QVERIFY(serviceShown("Parado", "ic_systray_off.png") && rig.shown("serviceError"));
        QCOMPARE(rig.item("serviceError")->property("text").toString(), stopped);
        QCOMPARE(rig.object("trayService")->property("text").toString(), QStringLiteral("Desligar serviço"));
        QSignalSpy messages(client, &PrintClient::messageChanged);
        QSignalSpy attempts(client, &PrintClient::serverStateChanged);
        QTRY_VERIFY(attempts.count() >= 2);
        QCOMPARE(messages.count(), 0);

        holder.reset();
        QTRY_VERIFY(serviceShown("Ativo", "ic_systray_on.png") && !rig.shown("serviceError"));
        QCOMPARE(ApiClient(port).request("GET", "/").status, 200);
        // Off, taken again, on: tried at once and told; off again: no more tries.
        client->setServerActive(false);
        holder = std::make_unique<QTcpServer>();
        QVERIFY(holder->listen(QHostAddress::Any, port));
        QTest::ignoreMessage(QtCriticalMsg, bindFailed);
        client->setServerActive(true);
        QCOMPARE(client->message(), stopped);
        client->setServerActive(false);
        QVERIFY(serviceShown("Desativo", "ic_systray_off.png") && !rig.shown("serviceError"));
        attempts.clear();
        QTest::qWait(300);
        QCOMPARE(attempts.count(), 0);
    }

private:
    // scripts/test runs a tray host beside the X server; it may take a moment to claim the tray.
    static bool trayAvailable()
    {
        return QTest::qWaitFor(&QSystemTrayIcon::isSystemTrayAvailable,
                               qEnvironmentVariableIsSet("QLK_NO_TRAY") ? 0 : 10000);
    }
};

QLK_TEST_MAIN(TestUi)
#include "tst_ui.moc"

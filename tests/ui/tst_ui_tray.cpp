#include "UiRig.h"
#include "support/TestMain.h"

#include <QQmlProperty>
#include <QSettings>
#include <QSystemTrayIcon>

// The tray icon and its menu, against a real tray host on the test display.
class TestUiTray : public QObject
{
    Q_OBJECT

    static void trigger(UiRig& rig, const char* name)
    {
        QObject* entry = rig.object(QString::fromLatin1(name));
        QVERIFY2(entry, name);
        QVERIFY(QMetaObject::invokeMethod(entry, "triggered"));
    }

    // Service on or off as seen everywhere: client, tray icon and entry, start page, store.
    static void expectService(UiRig& rig, bool on)
    {
        QCOMPARE(rig.client()->property("serverActive").toBool(), on);
        QCOMPARE(QQmlProperty(rig.object(QStringLiteral("trayIcon")), QStringLiteral("icon.source"), rig.engine())
                     .read()
                     .toString(),
                 on ? QStringLiteral("qrc:/imgs/ic_systray_on.png") : QStringLiteral("qrc:/imgs/ic_systray_off.png"));
        QCOMPARE(rig.object(QStringLiteral("trayService"))->property("text").toString(),
                 on ? QStringLiteral("Desligar serviço") : QStringLiteral("Ligar serviço"));
        QCOMPARE(rig.item(QStringLiteral("serviceSwitch"))->property("checked").toBool(), on);
        QCOMPARE(QSettings().value(QStringLiteral("serverActive"), true).toBool(), on);
    }

private slots:
    void menuSwitchAndIconFollowEachOther()
    {
        UiRig::setUpProcess();
        // scripts/test runs a tray host beside the X server; it may take a moment to claim the tray.
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
        UiRig rig;
        QObject* tray = rig.object(QStringLiteral("trayIcon"));
        QVERIFY(tray && tray->property("available").toBool() && tray->property("visible").toBool());
        expectService(rig, true);
        trigger(rig, "trayService");
        expectService(rig, false);

        QVERIFY(rig.showWindow());
        QVERIFY(rig.click(rig.item(QStringLiteral("switchArea"), rig.item(QStringLiteral("serviceSwitch")))));
        expectService(rig, true);
        // The switch keeps following the menu after the user has clicked it.
        trigger(rig, "trayService");
        expectService(rig, false);

        // Open brings a closed window back where it was.
        rig.setState(QStringLiteral("config"));
        rig.window()->close();
        QTRY_VERIFY(!rig.window()->isVisible());
        trigger(rig, "trayOpen");
        QTRY_VERIFY(rig.window()->isVisible());
        QCOMPARE(rig.state(), QStringLiteral("config"));
    }
};

QLK_TEST_MAIN(TestUiTray)
#include "tst_ui_tray.moc"

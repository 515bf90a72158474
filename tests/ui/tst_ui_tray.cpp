#include "UiRig.h"
#include "core/PrintClient.h"
#include "support/TestMain.h"

#include <QLabel>
#include <QQmlApplicationEngine>
#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QSystemTrayIcon>

// The tray icon and its menu, against a real tray host on the test display.
class TestUiTray : public QObject
{
    Q_OBJECT

    static QString iconSource(UiRig& rig)
    {
        QObject* tray = rig.object(QStringLiteral("trayIcon"));
        return tray ? QQmlProperty(tray, QStringLiteral("icon.source"), rig.engine()).read().toString() : QString();
    }
    static QString entryText(UiRig& rig, const char* name)
    {
        QObject* entry = rig.object(QString::fromLatin1(name));
        return entry ? entry->property("text").toString() : QString();
    }
    static void trigger(UiRig& rig, const char* name)
    {
        QObject* entry = rig.object(QString::fromLatin1(name));
        QVERIFY2(entry, name);
        QVERIFY(QMetaObject::invokeMethod(entry, "triggered"));
    }

private slots:
    void initTestCase()
    {
        UiRig::setUpProcess();
        // scripts/test runs a tray host beside the X server; it may take a moment to claim the tray.
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
    }

    void iconAndMenuFollowTheService()
    {
        UiRig rig;
        QVERIFY(rig.loaded());
        QObject* tray = rig.object(QStringLiteral("trayIcon"));
        QVERIFY(tray);
        QVERIFY(tray->property("available").toBool());
        QVERIFY(tray->property("visible").toBool());

        QCOMPARE(rig.client()->property("serverActive").toBool(), true);
        QCOMPARE(iconSource(rig), QStringLiteral("qrc:/imgs/ic_systray_on.png"));
        QCOMPARE(entryText(rig, "trayOpen"), QStringLiteral("Abrir"));
        QCOMPARE(entryText(rig, "trayService"), QStringLiteral("Desligar serviço"));
        QCOMPARE(entryText(rig, "trayQuit"), QStringLiteral("Sair"));

        // The menu switches the service off: icon, entry, start page switch and store follow.
        trigger(rig, "trayService");
        QCOMPARE(rig.client()->property("serverActive").toBool(), false);
        QCOMPARE(iconSource(rig), QStringLiteral("qrc:/imgs/ic_systray_off.png"));
        QCOMPARE(entryText(rig, "trayService"), QStringLiteral("Ligar serviço"));
        QCOMPARE(rig.item(QStringLiteral("serviceSwitch"))->property("checked").toBool(), false);
        QCOMPARE(rig.item(QStringLiteral("serviceStateText"))->property("text").toString(), QStringLiteral("Desativo"));
        QCOMPARE(QSettings().value(QStringLiteral("serverActive")).toBool(), false);

        // And the start page switch turns it back on; the tray follows.
        QVERIFY(rig.showWindow());
        rig.setState(QStringLiteral("allSet"));
        QVERIFY(rig.click(rig.item(QStringLiteral("switchArea"), rig.item(QStringLiteral("serviceSwitch")))));
        QCOMPARE(rig.client()->property("serverActive").toBool(), true);
        QCOMPARE(iconSource(rig), QStringLiteral("qrc:/imgs/ic_systray_on.png"));
        QCOMPARE(entryText(rig, "trayService"), QStringLiteral("Desligar serviço"));
        QCOMPARE(rig.item(QStringLiteral("serviceStateText"))->property("text").toString(), QStringLiteral("Ativo"));
        QCOMPARE(QSettings().value(QStringLiteral("serverActive")).toBool(), true);

        // The switch follows a change made elsewhere even after the user has clicked it.
        trigger(rig, "trayService");
        QCOMPARE(rig.item(QStringLiteral("serviceSwitch"))->property("checked").toBool(), false);
        trigger(rig, "trayService");
        QCOMPARE(rig.item(QStringLiteral("serviceSwitch"))->property("checked").toBool(), true);
    }

    void openShowsTheHiddenWindow()
    {
        UiRig rig;
        QVERIFY(rig.loaded());
        QVERIFY(rig.showWindow());
        rig.setState(QStringLiteral("config"));
        rig.window()->close();
        QTRY_VERIFY(!rig.window()->isVisible());

        trigger(rig, "trayOpen");
        QTRY_VERIFY(rig.window()->isVisible());
        QCOMPARE(rig.state(), QStringLiteral("config"));

        // A second instance asks through the same signal.
        rig.window()->hide();
        QVERIFY(QMetaObject::invokeMethod(rig.client(), "showWindow"));
        QTRY_VERIFY(rig.window()->isVisible());
    }

    void messagesShowAsTrayNotifications()
    {
        UiRig rig;
        QVERIFY(rig.loaded());
        rig.client()->setProperty("message", QStringLiteral("Mensagem de teste"));
        // Without a native notification service the tray shows its own balloon window.
        auto balloonText = []() {
            QStringList texts;
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (!widget->isVisible() || qstrcmp(widget->metaObject()->className(), "QBalloonTip") != 0)
                    continue;
                for (QLabel* label : widget->findChildren<QLabel*>())
                    texts << label->text();
            }
            return texts;
        };
        QTRY_VERIFY(balloonText().contains(QStringLiteral("Mensagem de teste")));
        QVERIFY(balloonText().contains(QStringLiteral("Quorva Link")));
    }

    void quitEndsTheProgram()
    {
        UiRig rig;
        QVERIFY(rig.loaded());
        QSignalSpy quit(rig.engine(), &QQmlEngine::quit);
        trigger(rig, "trayQuit");
        QCOMPARE(quit.count(), 1);
    }
};

QLK_TEST_MAIN(TestUiTray)
#include "tst_ui_tray.moc"

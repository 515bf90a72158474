#include "UiRig.h"
#include "core/PrintClient.h"
#include "support/TestMain.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>

// Which page shows when, and how the user moves between them.
class TestUiNavigation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { UiRig::setUpProcess(); }

    // Runs first, on the still empty settings of this process; the second rig is a normal start.
    void onlyTheFirstStartShowsTheWindow()
    {
        {
            UiRig rig;
            QVERIFY(rig.client()->property("firstStartup").toBool());
            QVERIFY(rig.window()->isVisible());
            QCOMPARE(rig.state(), QStringLiteral("allSet"));
            QVERIFY(rig.shown(QStringLiteral("initialPage")));
            QCOMPARE(rig.window()->minimumSize(), rig.window()->maximumSize());
            QCOMPARE(rig.window()->size(), rig.window()->maximumSize());
        }
        UiRig rig;
        QVERIFY(!rig.client()->property("firstStartup").toBool());
        QTest::qWait(200);
        QVERIFY(!rig.window()->isVisible());
    }

    void backButtons_data()
    {
        QTest::addColumn<QStringList>("cardStatePage");
        QTest::addColumn<bool>("debugMode");
        QTest::newRow("printers") << QStringList{"printerCard", "config", "configPage"} << false;
        QTest::newRow("terminals") << QStringList{"terminalCard", "terminals", "terminalsPage"} << false;
        QTest::newRow("logs, debug mode") << QStringList{"footerLogs", "logs", "logsPage"} << true;
        QTest::newRow("no logs without debug mode") << QStringList{"footerLogs"} << false;
    }

    void backButtons()
    {
        QFETCH(QStringList, cardStatePage);
        QFETCH(bool, debugMode);
        const QString state = cardStatePage.value(1), page = cardStatePage.value(2);
        UiRig rig(debugMode);
        QVERIFY(rig.showWindow());
        QCOMPARE(rig.click(cardStatePage.first()), !state.isEmpty());
        if (state.isEmpty())
            return;
        QCOMPARE(rig.state(), state);
        QTRY_VERIFY(rig.shown(page));
        QVERIFY(!rig.shown(QStringLiteral("initialPage")));

        QVERIFY(rig.click(rig.item(QStringLiteral("backButton"), rig.item(page))));
        QCOMPARE(rig.state(), QStringLiteral("allSet"));
        QVERIFY(rig.shown(QStringLiteral("initialPage")));
        QVERIFY(!rig.shown(page));
    }

    void acceptingTheTermsStartsTheService()
    {
        QSettings().setValue(QStringLiteral("licenseAccepted"), false);
        UiRig rig;
        QVERIFY(!rig.client()->property("started").toBool());
        QVERIFY(rig.showWindow());
        QCOMPARE(rig.state(), QStringLiteral("showLicense"));
        QVERIFY(!rig.window()->property("chromeShown").toBool());

        QVERIFY(rig.click(QStringLiteral("acceptButton")));
        QTRY_VERIFY(rig.client()->property("started").toBool());
        QTRY_COMPARE(rig.state(), QStringLiteral("allSet"));
        QVERIFY(rig.shown(QStringLiteral("initialPage")));
        QVERIFY(rig.window()->property("chromeShown").toBool());
        QVERIFY(QSettings().value(QStringLiteral("licenseAccepted")).toBool());
    }

    void updateScreenComesBeforeTheStartPage()
    {
        UiRig rig(false, [](PrintClient* client) { client->setProperty("hasUpdate", true); });
        QVERIFY(rig.showWindow());
        QCOMPARE(rig.state(), QStringLiteral("loading"));
        QVERIFY(rig.shown(QStringLiteral("updateBox")));
        QVERIFY(!rig.shown(QStringLiteral("splashBusy")));

        QVERIFY(rig.click(QStringLiteral("laterButton")));
        QCOMPARE(rig.state(), QStringLiteral("allSet"));
        // From the first click on, only clicks move the window.
        rig.client()->setProperty("hasUpdate", false);
        rig.client()->setProperty("hasUpdate", true);
        QCOMPARE(rig.state(), QStringLiteral("allSet"));
    }
};

QLK_TEST_MAIN(TestUiNavigation)
#include "tst_ui_navigation.moc"

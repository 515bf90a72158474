#include "UiRig.h"
#include "support/TestMain.h"

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
            QVERIFY(rig.window()->isVisible());
            QCOMPARE(rig.state(), QStringLiteral("allSet"));
            QVERIFY(rig.shown(QStringLiteral("initialPage")));
        }
        UiRig rig;
        QTest::qWait(200);
        QVERIFY(!rig.window()->isVisible());
    }

    void backButtons_data()
    {
        QTest::addColumn<QStringList>("cardStatePage");
        QTest::addColumn<bool>("debugMode");
        QTest::newRow("printers") << QStringList{"printerCard", "config", "configPage"} << false;
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
        QVERIFY(rig.click(QStringLiteral("acceptButton")));
        QTRY_VERIFY(rig.client()->property("started").toBool());
        QTRY_COMPARE(rig.state(), QStringLiteral("allSet"));
        QVERIFY(QSettings().value(QStringLiteral("licenseAccepted")).toBool());
    }
};

QLK_TEST_MAIN(TestUiNavigation)
#include "tst_ui_navigation.moc"

#include "UiRig.h"
#include "core/PrintClient.h"
#include "support/TestMain.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>

#include <memory>

// Which page shows when, and how the user moves between them.
class TestUiNavigation : public QObject
{
    Q_OBJECT

    static bool shown(UiRig& rig, const char* name)
    {
        QQuickItem* item = rig.item(QString::fromLatin1(name));
        return item && item->isVisible();
    }

private slots:
    void initTestCase() { UiRig::setUpProcess(); }

    // Runs first: the settings of this process are still empty.
    void firstStartShowsTheWindow()
    {
        UiRig rig;
        QVERIFY(rig.loaded());
        QVERIFY(rig.client()->property("firstStartup").toBool());
        QVERIFY(rig.window()->isVisible());
        QCOMPARE(rig.state(), QStringLiteral("allSet"));
        QVERIFY(shown(rig, "initialPage"));
        QVERIFY(!shown(rig, "initiating"));
        QCOMPARE(rig.window()->width(), rig.window()->minimumWidth());
        QCOMPARE(rig.window()->width(), rig.window()->maximumWidth());
        QCOMPARE(rig.window()->height(), rig.window()->maximumHeight());
    }

    void normalStartStaysInTheTray()
    {
        UiRig rig;
        QVERIFY(rig.loaded());
        QVERIFY(!rig.client()->property("firstStartup").toBool());
        QTest::qWait(200);
        QVERIFY(!rig.window()->isVisible());
        QCOMPARE(rig.state(), QStringLiteral("allSet"));
    }

    void backButtons_data()
    {
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("page");
        QTest::newRow("printers") << "printerCard"
                                  << "config"
                                  << "configPage";
        QTest::newRow("terminals") << "terminalCard"
                                   << "terminals"
                                   << "terminalsPage";
        QTest::newRow("logs") << "footerLogs"
                              << "logs"
                              << "logsPage";
    }

    void backButtons()
    {
        QFETCH(QString, card);
        QFETCH(QString, state);
        QFETCH(QString, page);
        UiRig::Options options;
        options.debugMode = true;
        UiRig rig(options);
        QVERIFY(rig.showWindow());

        QVERIFY(rig.click(card));
        QCOMPARE(rig.state(), state);
        QTRY_VERIFY(rig.item(page)->isVisible());
        QVERIFY(!rig.item(QStringLiteral("initialPage"))->isVisible());

        QVERIFY(rig.click(rig.item(QStringLiteral("backButton"), rig.item(page))));
        QCOMPARE(rig.state(), QStringLiteral("allSet"));
        QVERIFY(rig.item(QStringLiteral("initialPage"))->isVisible());
        QVERIFY(!rig.item(page)->isVisible());
    }

    void logsEntryOnlyInDebugMode_data()
    {
        QTest::addColumn<bool>("debugMode");
        QTest::newRow("normal") << false;
        QTest::newRow("DebugModeOn") << true;
    }

    void logsEntryOnlyInDebugMode()
    {
        QFETCH(bool, debugMode);
        UiRig::Options options;
        options.debugMode = debugMode;
        UiRig rig(options);
        QVERIFY(rig.showWindow());
        QCOMPARE(rig.item(QStringLiteral("footerLogs"))->isVisible(), debugMode);
        QVERIFY(rig.item(QStringLiteral("footerAbout"))->isVisible());
    }

    void termsAcceptanceStartsTheService()
    {
        {
            QSettings settings;
            settings.setValue(QStringLiteral("licenseAccepted"), false);
            settings.sync();
        }
        UiRig rig;
        QVERIFY(rig.loaded());
        QVERIFY(!rig.client()->property("started").toBool());
        QVERIFY(rig.showWindow());
        QCOMPARE(rig.state(), QStringLiteral("showLicense"));
        QVERIFY(rig.item(QStringLiteral("licensePage"))->isVisible());
        QVERIFY(!rig.window()->property("chromeShown").toBool());

        QVERIFY(rig.click(QStringLiteral("acceptButton")));
        QVERIFY(rig.client()->property("licenseAccepted").toBool());
        QTRY_VERIFY(rig.client()->property("started").toBool());
        QTRY_COMPARE(rig.state(), QStringLiteral("allSet"));
        QVERIFY(rig.item(QStringLiteral("initialPage"))->isVisible());
        QVERIFY(rig.window()->property("chromeShown").toBool());
        QCOMPARE(QSettings().value(QStringLiteral("licenseAccepted")).toBool(), true);
    }

    void updateScreenBeforeTheStartPage()
    {
        UiRig::Options options;
        options.beforeLoad = [](PrintClient* client) { client->setProperty("hasUpdate", true); };
        UiRig rig(options);
        QVERIFY(rig.showWindow());
        QCOMPARE(rig.state(), QStringLiteral("loading"));
        QVERIFY(rig.item(QStringLiteral("updateBox"))->isVisible());
        QVERIFY(!rig.item(QStringLiteral("splashBusy"))->isVisible());
        QVERIFY(!rig.window()->property("chromeShown").toBool());

        QVERIFY(rig.click(QStringLiteral("laterButton")));
        QCOMPARE(rig.state(), QStringLiteral("allSet"));

        // From the first click on, only clicks move the window.
        rig.client()->setProperty("hasUpdate", false);
        rig.client()->setProperty("hasUpdate", true);
        QCOMPARE(rig.state(), QStringLiteral("allSet"));
    }

    void downloadPageByLanguage_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("path");
        QTest::newRow("pt") << "pt"
                            << "/pt";
        QTest::newRow("es") << "es"
                            << "/es";
        QTest::newRow("en") << "en"
                            << "/en";
        QTest::newRow("de reads en") << "de"
                                     << "/en";
    }

    void downloadPageByLanguage()
    {
        QFETCH(QString, language);
        QFETCH(QString, path);
        if (!m_rig)
            m_rig = std::make_unique<UiRig>();
        QVariant url;
        QVERIFY(QMetaObject::invokeMethod(m_rig->window(), "downloadUrl", Q_RETURN_ARG(QVariant, url),
                                          Q_ARG(QVariant, language)));
        QVERIFY(url.toString().startsWith(QStringLiteral("https://")));
        QCOMPARE(QUrl(url.toString()).path(), path);
    }

    void cleanupTestCase() { m_rig.reset(); }

private:
    std::unique_ptr<UiRig> m_rig;
};

QLK_TEST_MAIN(TestUiNavigation)
#include "tst_ui_navigation.moc"

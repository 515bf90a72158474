#include "UiRig.h"
#include "core/PrintClient.h"
#include "support/TestMain.h"

#include <QClipboard>
#include <QCryptographicHash>
#include <QGuiApplication>
#include <QHostAddress>
#include <QProcess>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>

#include <pty.h>
#include <unistd.h>

// Behaviour that does not depend on the language is checked in one run only.
#define SKIP_UNLESS_PORTUGUESE()                                                                                       \
    if (UiRig::language() != QLatin1String("pt"))                                                                      \
    QSKIP("checked once, in the Portuguese run")

// The pages, the About overlay and the translations; run once per language
// (LC_ALL set by CMake), each run saving its screenshots.
class TestUiPages : public QObject
{
    Q_OBJECT

    // A raw CUPS queue that nobody prints to; it only has to be listed.
    const QString m_printer = QStringLiteral("Balcao_Recibos");
    bool m_printerAdded = false;
    int m_ptyMaster = -1;
    int m_ptySlave = -1;

    static QList<QQuickItem*> itemsNamed(QQuickItem* root, const QString& name)
    {
        QList<QQuickItem*> found;
        if (!root)
            return found;
        for (QQuickItem* child : root->childItems()) {
            if (child->objectName() == name)
                found << child;
            found << itemsNamed(child, name);
        }
        return found;
    }

    static bool textShown(QQuickItem* root, const QString& text)
    {
        if (!root || !root->isVisible())
            return false;
        if (root->property("text").toString() == text)
            return true;
        for (QQuickItem* child : root->childItems()) {
            if (textShown(child, text))
                return true;
        }
        return false;
    }

    // The row of the test printer in the printer list (rebuilt at every discovery).
    QQuickItem* printerRow(UiRig& rig) const
    {
        for (QQuickItem* name : itemsNamed(rig.item(QStringLiteral("printerPanel")), QStringLiteral("printerName"))) {
            if (name->property("text").toString() == m_printer)
                return name->parentItem();
        }
        return nullptr;
    }

    static void setAddresses(PrintClient* client, const QStringList& addresses)
    {
        QList<QHostAddress> list;
        for (const QString& address : addresses)
            list << QHostAddress(address);
        QVERIFY(QMetaObject::invokeMethod(client, "onGetIPAddresses", Q_ARG(QList<QHostAddress>, list)));
    }

    static QQuickItem* openAbout(UiRig& rig)
    {
        QMetaObject::invokeMethod(rig.window(), "openAbout");
        return rig.item(QStringLiteral("overlayAbout"));
    }

private slots:
    void initTestCase()
    {
        UiRig::setUpProcess();

        if (QProcess::execute(QStringLiteral("lpadmin"),
                              {QStringLiteral("-p"), m_printer, QStringLiteral("-E"), QStringLiteral("-v"),
                               QStringLiteral("socket://127.0.0.1:9")}) == 0)
            m_printerAdded = true;
        else if (qEnvironmentVariable("CI") == QLatin1String("true"))
            QFAIL("the CUPS scheduler must run under CI");

        // A simulated Ingenico terminal for the terminal page.
        char path[128] = {};
        if (openpty(&m_ptyMaster, &m_ptySlave, path, nullptr, nullptr) == 0)
            qputenv("QUORVA_LINK_SIMULATED_PORTS", QByteArray(path) + "=0B00:0060");
    }

    void cleanupTestCase()
    {
        if (m_printerAdded)
            QProcess::execute(QStringLiteral("lpadmin"), {QStringLiteral("-x"), m_printer});
        if (m_ptyMaster >= 0) {
            ::close(m_ptyMaster);
            ::close(m_ptySlave);
        }
    }

    void textsAreTranslated_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QStringList>("texts"); // pt, en, es
        QTest::newRow("start page") << "allSet"
                                    << QStringList{"Configuração de dispositivos", "Devices configuration",
                                                   "Configuración de dispositivos"};
        QTest::newRow("printers") << "config"
                                  << QStringList{"Configuração de impressora", "Printer's configuration",
                                                 "Configuración de impresoras"};
        QTest::newRow("terminals") << "terminals"
                                   << QStringList{"Configuração de terminais de pagamento automático (TPA)",
                                                  "Mobile payment terminals configuration",
                                                  "Configuración de terminales de pago automático (TPA)"};
        QTest::newRow("logs") << "logs" << QStringList{"Consulte os logs", "View the logs", "Consultar los logs"};
        QTest::newRow("terms") << "showLicense"
                               << QStringList{"ACEITO OS TERMOS DE UTILIZAÇÃO DO QUORVA",
                                              "I ACCEPT QUORVA'S TERMS AND CONDITIONS",
                                              "ACEPTO LAS CONDICIONES DE UTILIZACIÓN DE QUORVA"};
        QTest::newRow("footer") << "allSet" << QStringList{"Apoio cliente", "Support", "Atención al cliente"};
    }

    void textsAreTranslated()
    {
        QFETCH(QString, state);
        QFETCH(QStringList, texts);
        const int column = QStringList{"pt", "en", "es"}.indexOf(UiRig::language());
        QVERIFY2(column >= 0, qPrintable(UiRig::language()));
        UiRig rig;
        QVERIFY(rig.showWindow());
        rig.setState(state);
        QVERIFY2(textShown(rig.window()->contentItem(), texts.at(column)), qPrintable(texts.at(column)));
    }

    void terminalCardHiddenInSpanish()
    {
        UiRig rig;
        QVERIFY(rig.showWindow());
        QVERIFY(rig.item(QStringLiteral("printerCard"))->isVisible());
        QCOMPARE(rig.item(QStringLiteral("terminalCard"))->isVisible(), UiRig::language() != QLatin1String("es"));
    }

    void aboutCardHeight_data()
    {
        QTest::addColumn<bool>("hasUpdate");
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<int>("height");
        QTest::newRow("one address") << false << QStringList{"192.168.1.20"} << 310;
        QTest::newRow("three addresses") << false << QStringList{"192.168.1.20", "10.0.0.2", "172.16.0.9"} << 370;
        QTest::newRow("three addresses, update")
            << true << QStringList{"192.168.1.20", "10.0.0.2", "172.16.0.9"} << 520;
        QTest::newRow("no address, update") << true << QStringList{} << 430;
        // 430 + 8 x 30 does not fit a 700 pixel window: the card stops 20 pixels from its edges.
        QStringList many;
        for (int i = 1; i <= 8; ++i)
            many << QStringLiteral("10.0.%1.1").arg(i);
        QTest::newRow("eight addresses, update") << true << many << -1;
    }

    void aboutCardHeight()
    {
        QFETCH(bool, hasUpdate);
        QFETCH(QStringList, addresses);
        QFETCH(int, height);
        UiRig rig;
        setAddresses(rig.client(), addresses);
        rig.client()->setProperty("hasUpdate", hasUpdate);
        QVERIFY(rig.showWindow());
        QQuickItem* overlay = openAbout(rig);
        QVERIFY(overlay);
        if (height < 0)
            height = rig.window()->height() - 40;
        QCOMPARE(rig.item(QStringLiteral("aboutCard"), overlay)->height(), qreal(height));
        QCOMPARE(rig.item(QStringLiteral("aboutUpdateBox"), overlay)->isVisible(), hasUpdate);
        for (int row = 0; row < addresses.size(); ++row)
            QVERIFY(rig.item(QStringLiteral("ipRow%1").arg(row), overlay));
    }

    void copiedOnlyInTheCopiedRow()
    {
        SKIP_UNLESS_PORTUGUESE();
        const QStringList addresses{"192.168.1.20", "10.0.0.2", "172.16.0.9"};
        UiRig rig;
        setAddresses(rig.client(), addresses);
        QVERIFY(rig.showWindow());
        QQuickItem* overlay = openAbout(rig);
        QVERIFY(overlay);
        QTest::qWait(300); // the card scales in

        QVERIFY(rig.click(rig.item(QStringLiteral("copyIcon"), rig.item(QStringLiteral("ipRow1"), overlay))));
        QCOMPARE(QGuiApplication::clipboard()->text(), addresses.at(1));
        for (int row = 0; row < addresses.size(); ++row) {
            QQuickItem* copied =
                rig.item(QStringLiteral("copiedText"), rig.item(QStringLiteral("ipRow%1").arg(row), overlay));
            QCOMPARE(copied->isVisible(), row == 1);
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            !rig.item(QStringLiteral("copiedText"), rig.item(QStringLiteral("ipRow1"), overlay))->isVisible(), 8000);

        // The compatibility switch writes the mode; a click beside the card closes the overlay.
        QVERIFY(rig.click(
            rig.item(QStringLiteral("switchArea"), rig.item(QStringLiteral("compatibilitySwitch"), overlay))));
        QCOMPARE(rig.client()->property("compatibilityMode").toBool(), true);
        QCOMPARE(QSettings().value(QStringLiteral("compatibilityMode")).toBool(), true);
        QTest::mouseClick(rig.window(), Qt::LeftButton, Qt::NoModifier, QPoint(5, rig.window()->height() / 2));
        QTRY_VERIFY(!rig.item(QStringLiteral("overlayAbout")));
    }

    void startPageCopiesTheKey()
    {
        SKIP_UNLESS_PORTUGUESE();
        UiRig rig;
        QVERIFY(rig.showWindow());
        QGuiApplication::clipboard()->clear();
        QVERIFY(rig.click(QStringLiteral("securityKey")));
        QCOMPARE(QGuiApplication::clipboard()->text(), rig.client()->property("securityKey").toString());
        QVERIFY(rig.item(QStringLiteral("copiedText"), rig.item(QStringLiteral("serviceCard")))->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(
            !rig.item(QStringLiteral("copiedText"), rig.item(QStringLiteral("serviceCard")))->isVisible(), 8000);
    }

    void refreshShowsTheBusyOverlay()
    {
        SKIP_UNLESS_PORTUGUESE();
        UiRig rig;
        QVERIFY(rig.showWindow());
        rig.setState(QStringLiteral("config"));
        QQuickItem* busy = rig.item(QStringLiteral("busyOverlay"), rig.item(QStringLiteral("configPage")));
        QVERIFY(!busy->isVisible());
        QVERIFY(rig.click(rig.item(QStringLiteral("refreshButton"), rig.item(QStringLiteral("configPage")))));
        QVERIFY(busy->isVisible());
        // The next printer discovery ends it (one comes every 3 s).
        QTRY_VERIFY_WITH_TIMEOUT(!busy->isVisible(), 15000);
    }

    void printerSwitchSurvivesARestart()
    {
        SKIP_UNLESS_PORTUGUESE();
        if (!m_printerAdded)
            QSKIP("no CUPS scheduler to add a printer to");
        const QString key =
            QStringLiteral("printers/") +
            QString::fromLatin1(QCryptographicHash::hash(m_printer.toLatin1(), QCryptographicHash::Sha1).toBase64());
        {
            UiRig rig;
            QVERIFY(rig.showWindow());
            rig.setState(QStringLiteral("config"));
            QTRY_VERIFY_WITH_TIMEOUT(printerRow(rig), 15000);
            QQuickItem* row = printerRow(rig);
            QCOMPARE(rig.item(QStringLiteral("availableSwitch"), row)->property("checked").toBool(), false);
            QCOMPARE(rig.item(QStringLiteral("availableText"), row)->property("text").toString(),
                     QStringLiteral("Inativo"));
            QVERIFY(rig.click(rig.item(QStringLiteral("switchArea"), row)));
            QCOMPARE(QSettings().value(key).toBool(), true);
            QTRY_COMPARE(rig.item(QStringLiteral("availableText"), printerRow(rig))->property("text").toString(),
                         QStringLiteral("Ativo"));
        }
        UiRig restarted;
        QVERIFY(restarted.showWindow());
        restarted.setState(QStringLiteral("config"));
        QTRY_VERIFY_WITH_TIMEOUT(printerRow(restarted), 15000);
        QVERIFY(restarted.item(QStringLiteral("availableSwitch"), printerRow(restarted))->property("checked").toBool());
    }

    void screenshots()
    {
        UiRig::Options options;
        options.debugMode = true;
        UiRig rig(options);
        QVERIFY(rig.loaded());
        setAddresses(rig.client(), {"192.168.1.20", "10.0.0.2"});
        QStringList lines;
        for (int i = 0; i < 40; ++i)
            lines << QStringLiteral("[2026-12-06 09:%1:05.120]: \"PrintClient: printer list refreshed\"")
                         .arg(59 - i, 2, 10, QLatin1Char('0'));
        rig.client()->setProperty("debugMessages", lines);
        rig.client()->setProperty("compatibilityMode", false);

        const QList<QPair<QString, QString>> pages{{"allSet", "initial"},
                                                   {"config", "config"},
                                                   {"terminals", "terminals"},
                                                   {"logs", "logs"},
                                                   {"showLicense", "license"}};
        for (const auto& page : pages) {
            rig.setState(page.first);
            if (page.first == QLatin1String("config"))
                QTRY_VERIFY_WITH_TIMEOUT(!m_printerAdded || printerRow(rig), 15000);
            QVERIFY(rig.screenshot(page.second));
        }
        rig.setState(QStringLiteral("allSet"));
        QVERIFY(openAbout(rig));
        QVERIFY(rig.screenshot(QStringLiteral("about")));
        QMetaObject::invokeMethod(rig.item(QStringLiteral("overlayAbout")), "close");
        QTRY_VERIFY(!rig.item(QStringLiteral("overlayAbout")));

        rig.client()->setProperty("hasUpdate", true);
        rig.setState(QStringLiteral("loading"));
        QVERIFY(rig.screenshot(QStringLiteral("update")));
        rig.setState(QStringLiteral("allSet"));
        QVERIFY(openAbout(rig));
        QVERIFY(rig.screenshot(QStringLiteral("about-update")));
    }
};

QLK_TEST_MAIN(TestUiPages)
#include "tst_ui_pages.moc"

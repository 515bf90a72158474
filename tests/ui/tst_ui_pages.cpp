#include "UiRig.h"
#include "support/CupsQueue.h"
#include "support/TestMain.h"

#include <QHostAddress>

#include <algorithm>
#include <memory>
#include <pty.h>

// The pages and the About overlay, run once per language (LC_ALL set by CMake);
// each run checks its translation and saves the screenshots under build/screenshots/.
class TestUiPages : public QObject
{
    Q_OBJECT

    std::unique_ptr<CupsQueue> m_queue; // listed on the printers page; nobody prints to it

    static bool textShown(QQuickItem* root, const QString& text)
    {
        const auto children = root->childItems();
        return root->isVisible() && (root->property("text").toString() == text ||
                                     std::any_of(children.begin(), children.end(),
                                                 [&](QQuickItem* child) { return textShown(child, text); }));
    }

    static QQuickItem* openAbout(UiRig& rig, int addresses)
    {
        QList<QHostAddress> list;
        for (int i = 1; i <= addresses; ++i)
            list << QHostAddress(QStringLiteral("10.0.%1.1").arg(i));
        QMetaObject::invokeMethod(rig.client(), "onGetIPAddresses", Q_ARG(QList<QHostAddress>, list));
        QMetaObject::invokeMethod(rig.window(), "openAbout");
        return rig.item(QStringLiteral("overlayAbout"));
    }

private slots:
    void initTestCase()
    {
        UiRig::setUpProcess();
        m_queue = std::make_unique<CupsQueue>(CupsQueue::uniqueName(QStringLiteral("Balcao_Recibos")),
                                              QStringLiteral("socket://127.0.0.1:9"));
        // A simulated Ingenico terminal for the terminal page.
        int master = -1, slave = -1; // open until the process ends
        char path[128] = {};
        if (openpty(&master, &slave, path, nullptr, nullptr) == 0)
            qputenv("QUORVA_LINK_SIMULATED_PORTS", QByteArray(path) + "=0B00:0060");
    }

    void languages()
    {
        static const struct
        {
            const char* state;
            const char* file;    // the names the README shows
            const char* text[3]; // pt, en, es
        } pages[] = {
            {"allSet",
             "initial",
             {"Configuração de dispositivos", "Devices configuration", "Configuración de dispositivos"}},
            {"config",
             "config",
             {"Configuração de impressora", "Printer's configuration", "Configuración de impresoras"}},
            {"terminals",
             "terminals",
             {"Configuração de terminais de pagamento automático (TPA)", "Mobile payment terminals configuration",
              "Configuración de terminales de pago automático (TPA)"}},
            {"logs", "logs", {"Consulte os logs", "View the logs", "Consultar los logs"}},
            {"showLicense",
             "license",
             {"ACEITO OS TERMOS DE UTILIZAÇÃO DO QUORVA", "I ACCEPT QUORVA'S TERMS AND CONDITIONS",
              "ACEPTO LAS CONDICIONES DE UTILIZACIÓN DE QUORVA"}},
        };
        const int column = QStringList{"pt", "en", "es"}.indexOf(UiRig::language());
        QVERIFY2(column >= 0, qPrintable(UiRig::language()));
        UiRig rig(true);
        QStringList lines;
        for (int i = 0; i < 40; ++i)
            lines << QStringLiteral("[2026-12-06 09:%1:05.120]: \"PrintClient: printer list refreshed\"").arg(59 - i);
        rig.client()->setProperty("debugMessages", lines);
        rig.client()->setProperty("compatibilityMode", false);
        QVERIFY(rig.showWindow());
        // Spanish-speaking markets have no payment terminals.
        QCOMPARE(rig.shown(QStringLiteral("terminalCard")), UiRig::language() != QLatin1String("es"));

        for (const auto& page : pages) {
            rig.setState(QString::fromLatin1(page.state));
            const QString text = QString::fromUtf8(page.text[column]);
            QVERIFY2(textShown(rig.window()->contentItem(), text), qPrintable(text));
            if (qstrcmp(page.state, "config") == 0 && m_queue->isValid())
                QTRY_VERIFY_WITH_TIMEOUT(textShown(rig.window()->contentItem(), m_queue->name()), 15000);
            QVERIFY(rig.screenshot(QString::fromLatin1(page.file)));
        }
        // The Accept button grows to its label (the Spanish one is the longest).
        QQuickItem* accept = rig.item(QStringLiteral("acceptButton"));
        QVERIFY(accept->childItems().first()->width() + 32 <= accept->width());

        for (const char* name : {"about", "update", "about-update"}) {
            rig.client()->setProperty("hasUpdate", name != QLatin1String("about"));
            rig.setState(name == QLatin1String("update") ? "loading" : "allSet");
            if (name != QLatin1String("update"))
                QVERIFY(openAbout(rig, 2));
            QVERIFY(rig.screenshot(QLatin1String(name)));
            if (QQuickItem* overlay = rig.item(QStringLiteral("overlayAbout")))
                QMetaObject::invokeMethod(overlay, "close");
            QTRY_VERIFY(!rig.item(QStringLiteral("overlayAbout")));
        }
    }

    // The card grows with the addresses, never past the window; then its content scrolls.
    void aboutCardHeight_data()
    {
        QTest::addColumn<bool>("hasUpdate");
        QTest::addColumn<int>("addresses");
        QTest::addColumn<int>("height"); // -1: the window's height less 20 pixels above and below
        if (UiRig::language() != QLatin1String("pt"))
            return; // the same in every language: checked in the Portuguese run only
        QTest::newRow("one address") << false << 1 << 310;
        QTest::newRow("three addresses, update") << true << 3 << 520;
        QTest::newRow("eight addresses, update") << true << 8 << -1; // 430 + 8 x 30 does not fit
    }
    void aboutCardHeight()
    {
        QFETCH(bool, hasUpdate);
        QFETCH(int, addresses);
        QFETCH(int, height);
        UiRig rig;
        rig.client()->setProperty("hasUpdate", hasUpdate);
        QVERIFY(rig.showWindow());
        QQuickItem* overlay = openAbout(rig, addresses);
        QVERIFY(overlay);
        QCOMPARE(rig.item(QStringLiteral("aboutCard"), overlay)->height(),
                 qreal(height < 0 ? rig.window()->height() - 40 : height));
        QCOMPARE(rig.item(QStringLiteral("aboutContent"), overlay)->property("interactive").toBool(), height < 0);
        QCOMPARE(rig.shown(QStringLiteral("aboutUpdateBox"), overlay), hasUpdate);
        QVERIFY(rig.item(QStringLiteral("ipRow%1").arg(addresses - 1), overlay));
    }
};

QLK_TEST_MAIN(TestUiPages)
#include "tst_ui_pages.moc"

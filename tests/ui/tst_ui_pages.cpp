#include "UiRig.h"
#include "core/PrintClient.h"
#include "support/CupsQueue.h"
#include "support/TestMain.h"

#include <QClipboard>
#include <QCryptographicHash>
#include <QGuiApplication>
#include <QHostAddress>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>

#include <algorithm>
#include <memory>
#include <pty.h>

// The pages and the About overlay, run once per language (LC_ALL set by CMake);
// each run checks its translation and saves the screenshots under build/screenshots/.
class TestUiPages : public QObject
{
    Q_OBJECT

    // A raw queue nobody prints to; it only has to be listed. Its name is unique
    // to this process so runs on the same machine do not meet.
    std::unique_ptr<CupsQueue> m_queue;

    static bool textShown(QQuickItem* root, const QString& text)
    {
        if (!root->isVisible())
            return false;
        if (root->property("text").toString() == text)
            return true;
        const auto children = root->childItems();
        return std::any_of(children.begin(), children.end(), [&](QQuickItem* c) { return textShown(c, text); });
    }

    // The row of the test queue in the printer list (rebuilt at every discovery).
    QQuickItem* printerRow(UiRig& rig) const
    {
        QList<QQuickItem*> todo{rig.item(QStringLiteral("printerPanel"))};
        while (!todo.isEmpty() && todo.first()) {
            QQuickItem* item = todo.takeFirst();
            if (item->objectName() == QLatin1String("printerName") && item->property("text") == m_queue->name())
                return item->parentItem();
            todo << item->childItems();
        }
        return nullptr;
    }

    static QQuickItem* openAbout(UiRig& rig, const QStringList& addresses)
    {
        QList<QHostAddress> list;
        for (const QString& address : addresses)
            list << QHostAddress(address);
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
        if (!m_queue->isValid() && qgetenv("CI") == "true")
            QFAIL(qPrintable(m_queue->errorString()));
        // A simulated Ingenico terminal for the terminal page.
        int master = -1, slave = -1; // open until the process ends
        char path[128] = {};
        if (openpty(&master, &slave, path, nullptr, nullptr) == 0)
            qputenv("QUORVA_LINK_SIMULATED_PORTS", QByteArray(path) + "=0B00:0060");
    }

    // Only the first test depends on the language; the rest run once.
    void init()
    {
        if (UiRig::language() != QLatin1String("pt") && qstrcmp(QTest::currentTestFunction(), "languages") != 0)
            QSKIP("the same in every language; checked in the Portuguese run");
    }

    void languages()
    {
        struct Page
        {
            const char* state;
            const char* file;
            const char* text[3]; // pt, en, es
        };
        static const Page pages[] = {
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
        QVERIFY(rig.shown(QStringLiteral("printerCard")));

        for (const Page& page : pages) {
            rig.setState(QString::fromLatin1(page.state));
            const QString text = QString::fromUtf8(page.text[column]);
            QVERIFY2(textShown(rig.window()->contentItem(), text), qPrintable(text));
            if (qstrcmp(page.state, "config") == 0)
                QTRY_VERIFY_WITH_TIMEOUT(!m_queue->isValid() || printerRow(rig), 15000);
            QVERIFY(rig.screenshot(QString::fromLatin1(page.file)));
        }
        rig.setState(QStringLiteral("allSet"));
        QVERIFY(openAbout(rig, {"192.168.1.20", "10.0.0.2"}));
        QVERIFY(rig.screenshot(QStringLiteral("about")));
        QMetaObject::invokeMethod(rig.item(QStringLiteral("overlayAbout")), "close");
        QTRY_VERIFY(!rig.item(QStringLiteral("overlayAbout")));

        rig.client()->setProperty("hasUpdate", true);
        rig.setState(QStringLiteral("loading"));
        QVERIFY(rig.screenshot(QStringLiteral("update")));
        rig.setState(QStringLiteral("allSet"));
        QVERIFY(openAbout(rig, {"192.168.1.20", "10.0.0.2"}));
        QVERIFY(rig.screenshot(QStringLiteral("about-update")));
    }

    void aboutCardHeight_data()
    {
        QTest::addColumn<bool>("hasUpdate");
        QTest::addColumn<int>("addresses");
        QTest::addColumn<int>("height"); // -1: the window's height less 20 pixels above and below
        QTest::newRow("one address") << false << 1 << 310;
        QTest::newRow("three addresses") << false << 3 << 370;
        QTest::newRow("three addresses, update") << true << 3 << 520;
        QTest::newRow("no address, update") << true << 0 << 430;
        QTest::newRow("eight addresses, update") << true << 8 << -1; // 430 + 8 x 30 does not fit
    }

    void aboutCardHeight()
    {
        QFETCH(bool, hasUpdate);
        QFETCH(int, addresses);
        QFETCH(int, height);
        QStringList list;
        for (int i = 1; i <= addresses; ++i)
            list << QStringLiteral("10.0.%1.1").arg(i);
        UiRig rig;
        rig.client()->setProperty("hasUpdate", hasUpdate);
        QVERIFY(rig.showWindow());
        QQuickItem* overlay = openAbout(rig, list);
        QVERIFY(overlay);
        QCOMPARE(rig.item(QStringLiteral("aboutCard"), overlay)->height(),
                 qreal(height < 0 ? rig.window()->height() - 40 : height));
        QCOMPARE(rig.shown(QStringLiteral("aboutUpdateBox"), overlay), hasUpdate);
        for (int row = 0; row < addresses; ++row)
            QVERIFY(rig.item(QStringLiteral("ipRow%1").arg(row), overlay));
    }

    void copiedOnlyInTheCopiedRow()
    {
        const QStringList addresses{"192.168.1.20", "10.0.0.2", "172.16.0.9"};
        UiRig rig;
        QVERIFY(rig.showWindow());
        QQuickItem* overlay = openAbout(rig, addresses);
        QVERIFY(overlay);
        QTest::qWait(300); // the card scales in
        auto row = [&](int i) { return rig.item(QStringLiteral("ipRow%1").arg(i), overlay); };

        QVERIFY(rig.click(rig.item(QStringLiteral("copyIcon"), row(1))));
        QCOMPARE(QGuiApplication::clipboard()->text(), addresses.at(1));
        for (int i = 0; i < addresses.size(); ++i)
            QCOMPARE(rig.shown(QStringLiteral("copiedText"), row(i)), i == 1);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.shown(QStringLiteral("copiedText"), row(1)), 8000);
    }

    void printerSwitchSurvivesARestart()
    {
        if (!m_queue->isValid())
            QSKIP(qPrintable(m_queue->errorString()));
        const QString key = QStringLiteral("printers/") +
                            QCryptographicHash::hash(m_queue->name().toLatin1(), QCryptographicHash::Sha1).toBase64();
        // Off at first; switched on, it is stored and still on after a restart.
        for (const bool restarted : {false, true}) {
            UiRig rig;
            QVERIFY(rig.showWindow());
            rig.setState(QStringLiteral("config"));
            QTRY_VERIFY_WITH_TIMEOUT(printerRow(rig), 15000);
            QCOMPARE(rig.item(QStringLiteral("availableSwitch"), printerRow(rig))->property("checked").toBool(),
                     restarted);
            if (!restarted) {
                QVERIFY(rig.click(rig.item(QStringLiteral("switchArea"), printerRow(rig))));
                QCOMPARE(QSettings().value(key).toBool(), true);
            }
        }
    }
};

QLK_TEST_MAIN(TestUiPages)
#include "tst_ui_pages.moc"

#include "app/Resources.h"
#include "core/Notification.h"
#include "core/PrintClient.h"
#include "core/VersionCheck.h"
#include "http/HttpListener.h"
#include "support/ApiClient.h"
#include "support/ImageServer.h"
#include "support/TestMain.h"

#include <QRegularExpression>
#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <array>

namespace {

void resetStore(bool accepted, const QVariant& storedKey = QVariant())
{
    QSettings settings;
    settings.clear();
    settings.setValue("licenseAccepted", accepted);
    if (storedKey.isValid())
        settings.setValue("securityKey", storedKey);
}

} // namespace

class TestPrintClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Resources::init();
        QVERIFY(m_versionService.start());
        qputenv("QUORVA_LINK_VERSION_URL", m_versionService.url(QStringLiteral("/hasNewVersion")).toUtf8());
    }

    // A first start draws a key; stored keys are kept, the suffix added when they lack it; later starts read the same.
    void securityKey_data()
    {
        QTest::addColumn<QString>("stored"); // null: first start
        QTest::addColumn<QString>("expected");
        QTest::newRow("first start") << QString() << QString();
        QTest::newRow("no suffix") << QString("Ab3dE9gH") << QString("Ab3dE9gHv4.0");
        QTest::newRow("later suffix") << QString("Ab3dE9gHv5.1") << QString("Ab3dE9gHv5.1");
        QTest::newRow("suffix not at the end") << QString("v4.0Ab3d") << QString("v4.0Ab3dv4.0");
    }

    void securityKey()
    {
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        resetStore(false, stored.isNull() ? QVariant() : stored);
        QStringList keys;
        for (int start = 0; start < 2; ++start) {
            PrintClient client;
            client.init();
            keys << client.securityKey();
            QCOMPARE(client.firstStartup(), stored.isNull() && !start);
        }
        QCOMPARE(keys.last(), keys.first());
        QVERIFY2(stored.isNull() ? QRegularExpression("^[A-Za-z0-9]{8}v4\\.0$").match(keys.first()).hasMatch()
                                 : keys.first() == expected,
                 qPrintable(keys.first()));
    }

    // Accepting the terms again builds no second server; switching keeps the one there is.
    void oneServer()
    {
        resetStore(true);
        PrintClient client;
        client.setListenerPort(0);
        client.init();
        HttpListener* listener = client.listener();
        QVERIFY(listener && listener->isListening());
        client.setLicenseAccepted(true);
        QCOMPARE(client.listener(), listener);

        client.setServerActive(false);
        QVERIFY(!listener->isListening() && !QSettings().value("serverActive", true).toBool());
        client.setServerActive(true);
        QCOMPARE(ApiClient(listener->serverPort()).request("GET", "/").status, 200);
    }

    // The USB vendor picks the terminal family; the user's switch is stored under the model's key across a restart.
    void terminalsFoundAndRemembered()
    {
        resetStore(true);
        // Vendor, product, family (0: not a terminal); discovery lists a path only while it exists.
        const QList<std::array<int, 3>> devices{
            {0x079B, 0x0060, 1}, {0x0B00, 0x0061, 1}, {0x1E0E, 0x9001, 2}, {0x0403, 0x6001, 2}, {0x067B, 0x2303, 0}};
        QTemporaryDir dir;
        QStringList paths, simulated;
        QMap<QString, int> expected;
        for (const auto& [vendor, product, family] : devices) {
            paths << dir.filePath(QString::number(paths.size()));
            QVERIFY(QFile(paths.last()).open(QIODevice::WriteOnly));
            simulated << QStringLiteral("%1=%2:%3").arg(paths.last()).arg(vendor, 0, 16).arg(product, 0, 16);
            if (family)
                expected.insert(paths.last(), family);
        }
        qputenv(SerialPortDescription::SimulatedPortsVariable, simulated.join(',').toUtf8());
        const auto found = [](bool available, bool switchFirstOff = false) {
            PrintClient client;
            client.setListenerPort(0);
            client.init();
            QMap<QString, int> families;
            for (const auto& tpa : client.tpaList())
                if (tpa->available() == available)
                    families.insert(tpa->tpa().portName(), tpa->vendorId());
            if (switchFirstOff && !client.tpaList().isEmpty())
                client.tpaList().first()->setAvailable(false);
            return families;
        };
        QCOMPARE(found(true, true), expected);
        // SHA-1 of U+079B U+0060 in UTF-8, in Base64 (computed apart, with Python's hashlib).
        QCOMPARE(QSettings().value("tpa/zGxwZ4IJP4m5qdbYyxR9L1khrvQ="), QVariant(false));
        QCOMPARE(found(false), (QMap<QString, int>{{paths.first(), 1}}));
    }

    // Records expire by the sender's date (20 minutes); an unparsable one counts as 1970.
    void notificationExpiry()
    {
        PrintClient client;
        const auto ago = [](int seconds) {
            return QDateTime::currentDateTime().addSecs(-seconds).toString(Notification::dateFormat);
        };
        for (const auto& [title, date] :
             QList<QPair<QString, QString>>{{"old", ago(1300)}, {"recent", ago(1100)}, {"unparsable", "10:00"}})
            client.addNotification(Notification::fromJson({{"title", title}, {"subtitle", "s"}, {"date", date}}));
        QVERIFY(QMetaObject::invokeMethod(&client, "checkNotificationDelete"));
        QStringList titles;
        for (const auto& notification : client.notifications())
            titles << notification->title();
        QCOMPARE(titles, QStringList{"recent"});
    }

    void versionCheck_data()
    {
        QTest::addColumn<QByteArray>("answer"); // null: none ever comes
        QTest::addColumn<bool>("before");
        QTest::addColumn<bool>("after");
        QTest::newRow("no answer") << QByteArray() << true << true;
        QTest::newRow("not JSON") << QByteArray("<html>true</html>") << true << false;
        // Up to 64 KiB is read; anything larger is no answer at all.
        const auto padded = [](qint64 size) {
            const QByteArray head = "{\"hasNewVersion\": true, \"pad\": \"", tail = "\"}";
            return head + QByteArray(size - head.size() - tail.size(), 'x') + tail;
        };
        QTest::newRow("64 KiB") << padded(VersionCheck::maxAnswerBytes) << false << true;
        QTest::newRow("one byte more") << padded(VersionCheck::maxAnswerBytes + 1) << false << false;
    }

    void versionCheck()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, before);
        QFETCH(bool, after);
        m_versionService.serve(QStringLiteral("/hasNewVersion"), answer, answer.isNull() ? 0 : 200);
        resetStore(false);

        PrintClient client;
        client.setVersionCheckTimeout(1000);
        client.setProperty("hasUpdate", before);
        client.init();
        // The hourly re-check is armed once a check has ended, answered or not.
        const auto timers = client.findChildren<QTimer*>();
        QTRY_VERIFY_WITH_TIMEOUT(std::any_of(timers.begin(), timers.end(),
                                             [](auto* t) { return t->interval() == 3600000 && t->isActive(); }),
                                 20000);
        QCOMPARE(client.hasUpdate(), after);
    }

private:
    ImageServer m_versionService;
};

QLK_TEST_MAIN_CORE(TestPrintClient)
#include "tst_printclient.moc"

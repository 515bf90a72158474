#include "core/PrintClient.h"
#include "support/ImageServer.h"
#include "support/TestMain.h"

#include <QSettings>
#include <QTimer>

// The check against a loopback stand-in for the maker's version service.
class TestVersionCheck : public QObject
{
    Q_OBJECT

    // The hourly re-check is armed once a check has ended, answered or not.
    static bool nextCheckArmed(const PrintClient& client)
    {
        for (const QTimer* timer : client.findChildren<QTimer*>()) {
            if (timer->interval() == 3600000)
                return timer->isActive();
        }
        return false;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_service.start());
        qputenv("QUORVA_LINK_VERSION_URL", m_service.url(QStringLiteral("/hasNewVersion")).toUtf8());
        // Without the terms accepted the client builds no server of its own: only the check runs.
        QSettings().setValue("licenseAccepted", false);
    }

    void answer_data()
    {
        QTest::addColumn<QByteArray>("answer"); // null: none ever comes
        QTest::addColumn<bool>("before");
        QTest::addColumn<bool>("after");
        QTest::newRow("new version") << QByteArray(R"({"hasNewVersion": true, "other": 1})") << false << true;
        QTest::newRow("member as a string") << QByteArray(R"({"hasNewVersion": "true"})") << true << false;
        QTest::newRow("not JSON") << QByteArray("<html>true</html>") << true << false;
        QTest::newRow("no answer") << QByteArray() << true << true;
    }

    void answer()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, before);
        QFETCH(bool, after);
        if (answer.isNull())
            m_service.silence(QStringLiteral("/hasNewVersion"));
        else
            m_service.serve(QStringLiteral("/hasNewVersion"), answer);

        PrintClient client;
        client.setVersionCheckTimeout(1000);
        client.setProperty("hasUpdate", before);
        QSignalSpy updates(&client, &PrintClient::hasUpdateChanged);
        client.init();
        QTRY_VERIFY_WITH_TIMEOUT(nextCheckArmed(client), 20000);
        QCOMPARE(updates.count(), before == after ? 0 : 1);
        QCOMPARE(client.hasUpdate(), after);
        QCOMPARE(client.message(), after && !before
                                       ? QString("Existe uma nova versão do Quorva Link. Clique aqui para actualizar.")
                                       : QString());
    }

private:
    ImageServer m_service;
};

QLK_TEST_MAIN_CORE(TestVersionCheck)
#include "tst_versioncheck.moc"

#include "core/PrintClient.h"
#include "support/TestMain.h"
#include "support/VersionServer.h"

#include <QSettings>
#include <QTimer>

namespace {

// The hourly re-check is armed once a check has completed, failed or not.
bool nextCheckArmed(const PrintClient& client)
{
    for (const QTimer* timer : client.findChildren<QTimer*>()) {
        if (timer->interval() == 3600000)
            return timer->isActive();
    }
    return false;
}

} // namespace

class TestVersionCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        qputenv("QUORVA_LINK_VERSION_URL", m_server.url().toEncoded());
        // Without the terms accepted the client starts no server: only the check runs.
        QSettings().setValue("licenseAccepted", false);
    }

    void answer_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("hasUpdate");
        QTest::newRow("new version") << QByteArray(R"({"hasNewVersion": true, "other": 1})") << true;
        QTest::newRow("member as a string") << QByteArray(R"({"hasNewVersion": "true"})") << false;
        QTest::newRow("bare string") << QByteArray(R"("true")") << false;
        QTest::newRow("no new version") << QByteArray(R"({"hasNewVersion": false})") << false;
        QTest::newRow("not JSON") << QByteArray("<html>true</html>") << false;
    }

    void answer()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, hasUpdate);
        m_server.setSilent(false);
        m_server.setAnswer(answer);
        const int before = m_server.requests().size();

        PrintClient client;
        client.setProperty("hasUpdate", !hasUpdate);
        QSignalSpy updates(&client, &PrintClient::hasUpdateChanged);
        QSignalSpy messages(&client, &PrintClient::messageChanged);
        client.init();

        QVERIFY(updates.wait(20000));
        QCOMPARE(updates.count(), 1);
        QCOMPARE(updates.first().first().toBool(), hasUpdate);
        QCOMPARE(client.hasUpdate(), hasUpdate);
        QCOMPARE(messages.count(), hasUpdate ? 1 : 0);
        if (hasUpdate)
            QCOMPARE(client.message(), QString("Existe uma nova versão do Quorva Link. Clique aqui para actualizar."));
        QTRY_VERIFY(nextCheckArmed(client));

        QCOMPARE(m_server.requests().size(), before + 1);
        const VersionServer::Request request = m_server.requests().last();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.path, QByteArray("/hasNewVersion"));
        QCOMPARE(request.contentType, QByteArray("application/x-www-form-urlencoded"));
        QCOMPARE(request.body, QByteArray("cur=410"));
    }

    void silentServiceIsAbortedAndChangesNothing()
    {
        m_server.setSilent(true);
        PrintClient client;
        client.setVersionCheckTimeout(300);
        client.setProperty("hasUpdate", true);
        QSignalSpy updates(&client, &PrintClient::hasUpdateChanged);
        QSignalSpy received(&m_server, &VersionServer::requestReceived);
        client.init();

        QVERIFY(received.wait(20000));
        QTRY_VERIFY_WITH_TIMEOUT(nextCheckArmed(client), 20000);
        QCOMPARE(updates.count(), 0);
        QVERIFY(client.hasUpdate());
    }

private:
    VersionServer m_server;
};

QLK_TEST_MAIN_CORE(TestVersionCheck)
#include "tst_versioncheck.moc"

#include "core/PrintClient.h"
#include "http/HttpRequest.h"
#include "http/HttpRequestHandler.h"
#include "http/HttpResponseWriter.h"
#include "support/HttpTestRig.h"
#include "support/TestMain.h"

#include <QSemaphore>
#include <QSettings>
#include <QTimer>

#include <mutex>

namespace {

// Plays the maker's version service: keeps the last request and answers with a
// fixed body, or keeps the caller waiting until released.
class VersionService : public HttpRequestHandler
{
public:
    void service(HttpRequest& request, HttpResponseWriter& response) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            last =
                request.method() + ' ' + request.path() + ' ' + request.header("Content-Type") + ' ' + request.body();
        }
        if (silent) {
            release.tryAcquire(1, 20000);
            return;
        }
        response.write(answer, true);
    }

    std::mutex mutex;
    QByteArray last;
    QByteArray answer;
    std::atomic<bool> silent{false};
    QSemaphore release;
};

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
        qputenv("QUORVA_LINK_VERSION_URL",
                QByteArray("http://127.0.0.1:") + QByteArray::number(m_server.port()) + "/hasNewVersion");
        // Without the terms accepted the client builds no server of its own: only the check runs.
        QSettings().setValue("licenseAccepted", false);
    }

    void answer_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("hasUpdate");
        QTest::newRow("new version") << QByteArray(R"({"hasNewVersion": true, "other": 1})") << true;
        QTest::newRow("member as a string") << QByteArray(R"({"hasNewVersion": "true"})") << false;
        QTest::newRow("not JSON") << QByteArray("<html>true</html>") << false;
    }

    void answer()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, hasUpdate);
        m_service.answer = answer;

        PrintClient client;
        client.setProperty("hasUpdate", !hasUpdate);
        QSignalSpy updates(&client, &PrintClient::hasUpdateChanged);
        client.init();

        QVERIFY(updates.wait(20000));
        QCOMPARE(updates.count(), 1);
        QCOMPARE(updates.first().first().toBool(), hasUpdate);
        QCOMPARE(client.message(), hasUpdate
                                       ? QString("Existe uma nova versão do Quorva Link. Clique aqui para actualizar.")
                                       : QString());
        QTRY_VERIFY(nextCheckArmed(client));
        std::lock_guard<std::mutex> lock(m_service.mutex);
        QCOMPARE(m_service.last, QByteArray("POST /hasNewVersion application/x-www-form-urlencoded cur=410"));
    }

    // A service that never answers is given up on; what the user saw stays.
    void silentService()
    {
        m_service.silent = true;
        PrintClient client;
        client.setVersionCheckTimeout(1000);
        client.setProperty("hasUpdate", true);
        QSignalSpy updates(&client, &PrintClient::hasUpdateChanged);
        client.init();

        QTRY_VERIFY_WITH_TIMEOUT(nextCheckArmed(client), 20000);
        QCOMPARE(updates.count(), 0);
        m_service.release.release();
    }

private:
    VersionService m_service;
    HttpTestServer m_server{{{"port", 0}}, &m_service};
};

QLK_TEST_MAIN_CORE(TestVersionCheck)
#include "tst_versioncheck.moc"

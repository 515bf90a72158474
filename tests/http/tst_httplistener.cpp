#include "support/HttpTestRig.h"
#include "support/TestMain.h"

// The pool's cleanup. The 503 of a full pool is tst_serverfaults', switching the server off and on tst_printclient's.
class TestHttpListener : public QObject
{
    Q_OBJECT

private slots:
    // Idle handlers above minThreads go, one per tick; a busy one never does.
    void cleanupTicks()
    {
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("Removed connection handler .*, pool size is now 1$"));
        HttpTestServer server({{"minThreads", 1}, {"maxThreads", 10}, {"cleanupInterval", 100}});
        std::vector<std::unique_ptr<HttpTestClient>> clients(3);
        for (auto& client : clients) {
            HttpTestResponse response;
            QVERIFY(client =
                        HttpTestClient::askUntilServed(server.port(), false, HttpTestClient::get("/hold"), &response));
        }
        clients.resize(1);
        QTRY_COMPARE_WITH_TIMEOUT(server.poolSize(), 2, 10000);
        QTest::qWait(500);
        QVERIFY(clients.front()->send(HttpTestClient::get("/still")));
        QCOMPARE(clients.front()->readResponse().body, QByteArray("GET /still"));
        clients.clear();
        QTRY_COMPARE_WITH_TIMEOUT(server.poolSize(), 1, 10000);
    }
};

QLK_TEST_MAIN_CORE(TestHttpListener)
#include "tst_httplistener.moc"

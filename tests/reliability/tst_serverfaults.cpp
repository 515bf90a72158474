// Clients that hold the server's threads: connections that say nothing, and a
// client that asks for a large answer and never reads it. Either may cost a
// thread for readTimeout, never for longer, and never the others' service.

#include "support/HttpTestRig.h"
#include "support/TestMain.h"

class TestServerFaults : public QObject
{
    Q_OBJECT
    // Long enough that a loaded machine sets up the silent connections well within it.
    static constexpr int ReadTimeoutMs = 4000;

    static QVariantMap settings(int maxThreads)
    {
        QVariantMap map{{"maxThreads", maxThreads}, {"readTimeout", ReadTimeoutMs}, {"cleanupInterval", 60000}};
        map.insert(HttpTestServer::tls());
        return map;
    }

private slots:
    void silentConnections()
    {
        HttpTestServer server(settings(20));
        // 20 connections that never start TLS take every thread of the pool.
        std::vector<std::unique_ptr<QTcpSocket>> silent(20);
        for (auto& socket : silent) {
            socket = std::make_unique<QTcpSocket>();
            socket->connectToHost(QStringLiteral("127.0.0.1"), server.port());
            QVERIFY(socket->waitForConnected(10000));
        }
        QTRY_COMPARE_WITH_TIMEOUT(server.poolSize(), 20, 10000);
        // The next client is refused at once with the fixed text (plain, also
        // on a TLS server), not left waiting.
        QTest::ignoreMessage(QtDebugMsg, "HttpListener: Too many incoming connections");
        HttpTestClient refused(false);
        QVERIFY(refused.connectTo(server.port()));
        QCOMPARE(refused.readUntilClosed(),
                 QByteArray("HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\nToo many connections\r\n"));
        // Once readTimeout has closed the silent ones, a real client is served.
        HttpTestResponse response;
        QVERIFY(HttpTestClient::askUntilServed(server.port(), true, HttpTestClient::get("/after"), &response,
                                               10 * ReadTimeoutMs));
        QCOMPARE(response.body, QByteArray("GET /after"));
        for (auto& socket : silent)
            QVERIFY(socket->state() == QAbstractSocket::UnconnectedState || socket->waitForDisconnected(20000));
        QCOMPARE(server.poolSize(), 20); // the threads are reused, not replaced
    }

    void clientNeverReads()
    {
        // One thread only: unless the stuck answer lets go of it, nobody else is served.
        HttpTestServer server(settings(1));
        // 32 MiB answer to a client that never reads: far more than socket buffers hold.
        HttpTestClient stuck(true);
        QVERIFY(stuck.connectTo(server.port()));
        stuck.socket().setReadBufferSize(4096);
        QVERIFY(stuck.send(HttpTestClient::get("/big?parts=512")));
        QTRY_COMPARE_WITH_TIMEOUT(server.handler()->served.load(), 1, 10000);
        HttpTestResponse response;
        auto client = HttpTestClient::askUntilServed(server.port(), true, HttpTestClient::get("/next"), &response,
                                                     15 * ReadTimeoutMs);
        QVERIFY(client);
        QCOMPARE(response.body, QByteArray("GET /next"));
        // And the server goes on: a keep-alive request on the same connection.
        QVERIFY(client->send(HttpTestClient::get("/again")));
        QCOMPARE(client->readResponse().body, QByteArray("GET /again"));
    }
};

QLK_TEST_MAIN_CORE(TestServerFaults)
#include "tst_serverfaults.moc"

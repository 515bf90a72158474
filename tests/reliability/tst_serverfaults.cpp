// Clients that hold the server's threads: connections that say nothing, and a
// client that asks for a large answer and never reads it. Either may cost a
// thread for readTimeout, never for longer, and never the others' service.

#include "support/HttpTestRig.h"
#include "support/TestMain.h"

#include <memory>
#include <vector>

namespace {
// Long enough that a loaded machine sets up the silent connections well within it.
constexpr int ReadTimeoutMs = 4000;

QVariantMap settings(int maxThreads)
{
    QVariantMap map{{"maxThreads", maxThreads}, {"readTimeout", ReadTimeoutMs}, {"cleanupInterval", 60000}};
    map.insert(HttpTestServer::tls());
    return map;
}
} // namespace

class TestServerFaults : public QObject
{
    Q_OBJECT

private slots:
    void silentConnections()
    {
        HttpLogCapture log;
        HttpTestServer server(settings(20));
        const quint16 port = server.port();
        // 20 connections that never start TLS take every thread of the pool.
        std::vector<std::unique_ptr<QTcpSocket>> silent;
        for (int i = 0; i < 20; ++i) {
            silent.push_back(std::make_unique<QTcpSocket>());
            silent.back()->connectToHost(QStringLiteral("127.0.0.1"), port);
            QVERIFY(silent.back()->waitForConnected(10000));
        }
        QTRY_COMPARE_WITH_TIMEOUT(server.poolSize(), 20, 10000);

        // The next client is refused at once with the fixed text (plain, also
        // on a TLS server), not left waiting.
        HttpTestClient refused(false);
        QVERIFY(refused.connectTo(port));
        QCOMPARE(refused.readUntilClosed(),
                 QByteArray("HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\nToo many connections\r\n"));
        QCOMPARE(log.count("HttpListener: Too many incoming connections"), 1);

        // Once readTimeout has closed the silent ones, a real client is served.
        HttpTestResponse response;
        auto client =
            HttpTestClient::askUntilServed(port, true, HttpTestClient::get("/after"), &response, 10 * ReadTimeoutMs);
        QVERIFY(client);
        QCOMPARE(response.body, QByteArray("GET /after"));
        for (auto& socket : silent) {
            if (socket->state() != QAbstractSocket::UnconnectedState)
                QVERIFY(socket->waitForDisconnected(5 * ReadTimeoutMs));
        }
        QCOMPARE(server.poolSize(), 20); // the threads are reused, not replaced
    }

    void clientNeverReads()
    {
        // One thread only: unless the stuck answer lets go of it, nobody else is served.
        HttpTestServer server(settings(1));
        const quint16 port = server.port();
        // 32 MiB answer to a client that never reads: far more than socket buffers hold.
        HttpTestClient stuck(true);
        QVERIFY(stuck.connectTo(port));
        stuck.socket().setReadBufferSize(4096);
        QVERIFY(stuck.send(HttpTestClient::get("/big?parts=512")));
        QTRY_COMPARE_WITH_TIMEOUT(server.handler()->served.load(), 1, 10000);

        HttpTestResponse response;
        auto client =
            HttpTestClient::askUntilServed(port, true, HttpTestClient::get("/next"), &response, 15 * ReadTimeoutMs);
        QVERIFY(client);
        QCOMPARE(response.body, QByteArray("GET /next"));
        // And the server goes on: a keep-alive request on the same connection.
        QVERIFY(client->send(HttpTestClient::get("/again")));
        QCOMPARE(client->readResponse().body, QByteArray("GET /again"));
    }
};

QLK_TEST_MAIN_CORE(TestServerFaults)
#include "tst_serverfaults.moc"

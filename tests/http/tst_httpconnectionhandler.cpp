#include "support/HttpTestRig.h"
#include "support/TestMain.h"

#include "http/HttpConnectionHandler.h"

#include <memory>

// Connection behaviour over real loopback sockets, plain and TLS.
class TestHttpConnectionHandler : public QObject
{
    Q_OBJECT

    static QVariantMap settings(bool tls, QVariantMap map)
    {
        map.insert("cleanupInterval", 60000);
        if (tls)
            map.insert(HttpTestServer::tls());
        return map;
    }

    // Installed once the test library has installed its own handler.
    std::unique_ptr<HttpLogCapture> m_log;

private slots:
    void initTestCase() { m_log = std::make_unique<HttpLogCapture>(); }
    void init() { m_log->clear(); }

    void answers_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray ok = "HTTP/1.1 200 OK\r\nContent-Length: 8\r\nContent-Type: text/plain\r\n\r\nGET /a b";
        const QByteArray okClose =
            "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 8\r\nContent-Type: text/plain\r\n\r\nGET /a b";
        const QByteArray empty = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
        const QByteArray tooLarge =
            "HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too large\r\n";
        QTest::newRow("plain keep-alive") << false << QByteArray("GET /a%20b HTTP/1.1\r\n\r\n") << ok;
        QTest::newRow("tls keep-alive") << true << QByteArray("GET /a%20b HTTP/1.1\r\n\r\n") << ok;
        QTest::newRow("connection close")
            << false << QByteArray("GET /a%20b HTTP/1.1\r\nConnection: CLOSE\r\n\r\n") << okClose;
        QTest::newRow("HTTP/1.0") << false << QByteArray("GET /a%20b HTTP/1.0\r\n\r\n") << okClose;
        QTest::newRow("writes nothing") << false << QByteArray("GET /nothing HTTP/1.1\r\n\r\n") << empty;
        QTest::newRow("service throws") << false << QByteArray("GET /throw HTTP/1.1\r\n\r\n") << empty;
        // The limit is 1000 bytes here.
        QTest::newRow("plain too large") << false
                                         << QByteArray("GET / HTTP/1.1\r\nX: " + QByteArray(1200, 'b') + "\r\n\r\n")
                                         << tooLarge;
        QTest::newRow("tls broken first line") << true << QByteArray("HELLO\r\n\r\n") << tooLarge;
    }

    void answers()
    {
        QFETCH(bool, tls);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        const bool closes = expected.contains("Connection: close");
        HttpTestServer server(settings(tls, {{"maxRequestSize", 1000}, {"readTimeout", 5000}}));
        HttpTestClient client(tls);
        QVERIFY(client.connectTo(server.port()));
        // A kept connection also serves requests pipelined behind the first.
        QVERIFY(client.send(closes ? request : request + HttpTestClient::get("/again?n=2")));
        QCOMPARE(client.readResponse().raw, expected);
        if (closes) {
            QCOMPARE(client.readUntilClosed(), QByteArray());
        } else {
            QCOMPARE(client.readResponse().body, QByteArray("GET /again n=2"));
            QVERIFY(client.send(HttpTestClient::get("/again?n=3")));
            QCOMPARE(client.readResponse().body, QByteArray("GET /again n=3"));
        }
        if (request.contains("/throw"))
            QCOMPARE(m_log->count("An uncatched exception occured in the request handler"), 1);
    }

    void slowUpload()
    {
        // Each piece comes well within the timeout, the whole upload takes longer.
        HttpTestServer server(settings(false, {{"readTimeout", 1500}}));
        HttpTestClient client(false);
        QVERIFY(client.connectTo(server.port()));
        QVERIFY(client.send("POST /size HTTP/1.1\r\nContent-Length: 1000\r\n\r\n"));
        for (int i = 0; i < 10; ++i) {
            QTest::qWait(250);
            QVERIFY(client.send(QByteArray(100, 'u')));
        }
        QCOMPARE(client.readResponse().body, QByteArray("1000"));
        QCOMPARE(m_log->count("read timeout occured"), 0);
    }

    // After a client that misbehaves, the only thread serves others, and
    // nothing of the earlier connection reaches them.
    void threadFreed_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QString>("client");
        QTest::newRow("leaves during its answer") << true << "leaves";
        QTest::newRow("never reads its answer") << false << "never reads";
        QTest::newRow("plain client on tls") << true << "plain";
        QTest::newRow("silent") << false << "silent";
    }

    void threadFreed()
    {
        QFETCH(bool, tls);
        QFETCH(QString, client);
        HttpTestServer server(settings(tls, {{"maxThreads", 1}, {"readTimeout", 500}}));
        HttpTestClient bad(tls && client != "plain");
        QVERIFY(bad.connectTo(server.port()));
        // Events that run while the test waits must not drain the socket on its behalf.
        bad.socket().setReadBufferSize(4096);
        if (client == "silent") {
            QCOMPARE(bad.readUntilClosed(), QByteArray());
            QVERIFY(m_log->count("read timeout occured") >= 1);
        } else {
            QVERIFY(bad.send(HttpTestClient::get("/big?parts=2000")));
            QVERIFY(m_log->waitFor(client == "plain" ? "): disconnected" : "received request"));
        }
        if (client == "leaves")
            bad.socket().abort();
        for (int round = 0; round < 2; ++round) {
            HttpTestResponse response;
            const std::unique_ptr<HttpTestClient> next = HttpTestClient::askUntilServed(
                server.port(), tls, HttpTestClient::get("/echo", "Connection: close\r\n"), &response, 30000);
            QVERIFY(next);
            QCOMPARE(response.raw, QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 9\r\n"
                                              "Content-Type: text/plain\r\n\r\nGET /echo"));
            QCOMPARE(next->readUntilClosed(), QByteArray());
        }
        QCOMPARE(server.poolSize(), 1);
        if (client == "never reads")
            QVERIFY(m_log->count("HttpResponseWriter: peer takes no data, connection aborted") >= 1);
    }

    // The next request arrives while a long answer waits for the peer (TLS
    // signals readyRead again inside that wait): it is served after, once.
    void requestDuringService()
    {
        HttpTestServer server(settings(true, {{"readTimeout", 5000}}));
        HttpTestClient client(true);
        QVERIFY(client.connectTo(server.port()));
        client.socket().setReadBufferSize(4096);
        QVERIFY(client.send(HttpTestClient::get("/big?parts=128")));
        QVERIFY(m_log->waitFor("received request"));
        QVERIFY(client.send(HttpTestClient::get("/echo")));
        client.socket().setReadBufferSize(0);
        QCOMPARE(client.readResponse(30000).body.size(), 128 * 65536);
        QCOMPARE(client.readResponse().body, QByteArray("GET /echo"));
        QCOMPARE(server.handler()->served.load(), 2);
    }

    void unadoptableDescriptor()
    {
        HttpTestHandler service;
        HttpConnectionHandler handler(nullptr, &service);
        handler.markBusy();
        QMetaObject::invokeMethod(
            &handler, [&handler]() { handler.handleConnection(-1); }, Qt::QueuedConnection);
        // Free again, not lost to the pool.
        QTRY_VERIFY(!handler.isBusy());
        QCOMPARE(m_log->count("cannot initialize socket"), 1);
    }
};

QLK_TEST_MAIN_CORE(TestHttpConnectionHandler)
#include "tst_httpconnectionhandler.moc"

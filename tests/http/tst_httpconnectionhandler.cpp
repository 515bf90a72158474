#include "support/HttpTestRig.h"
#include "support/TestMain.h"

#include <memory>

// Connection behaviour over real loopback sockets, plain and TLS.
class TestHttpConnectionHandler : public QObject
{
    Q_OBJECT

private:
    static QVariantMap settings(bool tls, const QVariantMap& extra = QVariantMap())
    {
        QVariantMap map{{"readTimeout", 5000}, {"cleanupInterval", 60000}};
        if (tls) {
            const QString build = qEnvironmentVariable("QLK_BUILD_DIR");
            map.insert("sslKeyFile", build + "/ssl/qlk.key");
            map.insert("sslCertFile", build + "/ssl/qlk.cert");
        }
        map.insert(extra);
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
        for (const bool tls : {false, true}) {
            const char* mode = tls ? "tls" : "plain";
            QTest::addRow("%s keep-alive", mode) << tls << QByteArray("GET /a%20b HTTP/1.1\r\n\r\n") << ok;
            QTest::addRow("%s connection close", mode)
                << tls << QByteArray("GET /a%20b HTTP/1.1\r\nConnection: CLOSE\r\n\r\n") << okClose;
            QTest::addRow("%s HTTP/1.0", mode) << tls << QByteArray("GET /a%20b HTTP/1.0\r\n\r\n") << okClose;
            QTest::addRow("%s writes nothing", mode) << tls << QByteArray("GET /nothing HTTP/1.1\r\n\r\n") << empty;
            QTest::addRow("%s service throws", mode) << tls << QByteArray("GET /throw HTTP/1.1\r\n\r\n") << empty;
            // The limit is 1000 bytes here.
            QTest::addRow("%s headers too large", mode)
                << tls << QByteArray("GET / HTTP/1.1\r\nX-Big: " + QByteArray(1200, 'b') + "\r\n\r\n") << tooLarge;
            QTest::addRow("%s declared body too large", mode)
                << tls << QByteArray("POST / HTTP/1.1\r\nContent-Length: 2000\r\n\r\n" + QByteArray(200, 'b'))
                << tooLarge;
            QTest::addRow("%s broken first line", mode) << tls << QByteArray("HELLO\r\n\r\n") << tooLarge;
        }
    }

    void answers()
    {
        QFETCH(bool, tls);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        const bool closes = expected.contains("Connection: close");
        HttpTestServer server(settings(tls, {{"maxRequestSize", 1000}}));
        HttpTestClient client(tls);
        QVERIFY(client.connectTo(server.port()));
        // A kept connection also serves requests pipelined behind the first.
        QVERIFY(client.send(closes ? request : request + HttpTestClient::get("/again?n=2")));
        QCOMPARE(client.readResponse().raw, expected);
        if (closes) {
            QVERIFY(client.waitForClosed());
        } else {
            QCOMPARE(client.readResponse().body, QByteArray("GET /again n=2"));
            QVERIFY(client.send(HttpTestClient::get("/again?n=3")));
            QCOMPARE(client.readResponse().body, QByteArray("GET /again n=3"));
        }
        if (expected.startsWith("HTTP/1.1 413"))
            QCOMPARE(server.handler()->served.load(), 0);
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
    // nothing of the earlier connection reaches them. A silent client is
    // dropped after the read timeout.
    void threadFreed_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QString>("client");
        QTest::newRow("plain, leaves early") << false << "leaves";
        QTest::newRow("tls, leaves early") << true << "leaves";
        QTest::newRow("plain, never reads") << false << "never reads";
        QTest::newRow("tls, never reads") << true << "never reads";
        QTest::newRow("plain client on tls") << true << "plain";
        QTest::newRow("plain, silent") << false << "silent";
        QTest::newRow("tls, silent") << true << "silent";
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
};

QLK_TEST_MAIN_CORE(TestHttpConnectionHandler)
#include "tst_httpconnectionhandler.moc"

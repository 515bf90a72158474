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
        for (auto it = extra.cbegin(); it != extra.cend(); ++it)
            map.insert(it.key(), it.value());
        return map;
    }

    static void addTlsColumn()
    {
        QTest::addColumn<bool>("tls");
        QTest::newRow("plain") << false;
        QTest::newRow("tls") << true;
    }

    // Installed once the test library has installed its own handler.
    std::unique_ptr<HttpLogCapture> m_log;

private slots:
    void initTestCase() { m_log = std::make_unique<HttpLogCapture>(); }
    void init() { m_log->clear(); }

    void pipelined_data() { addTlsColumn(); }
    void pipelined()
    {
        QFETCH(bool, tls);
        HttpTestServer server(settings(tls));
        HttpTestClient client(tls);
        QVERIFY(client.connectTo(server.port()));
        QVERIFY(client.send(HttpTestClient::get("/echo?n=1") + HttpTestClient::get("/echo?n=2")));
        QCOMPARE(client.readResponse().body, QByteArray("GET /echo n=1"));
        QCOMPARE(client.readResponse().body, QByteArray("GET /echo n=2"));
        QVERIFY(client.send(HttpTestClient::get("/echo?n=3")));
        QCOMPARE(client.readResponse().body, QByteArray("GET /echo n=3"));
    }

    void keepOrClose_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("closed");
        const QByteArray ok = "HTTP/1.1 200 OK\r\nContent-Length: 8\r\nContent-Type: text/plain\r\n\r\nGET /a b";
        const QByteArray okClose =
            "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 8\r\nContent-Type: text/plain\r\n\r\nGET /a b";
        const QByteArray nothing = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
        const QByteArray thrown = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
        for (const bool tls : {false, true}) {
            const char* mode = tls ? "tls" : "plain";
            QTest::addRow("%s keep-alive", mode) << tls << QByteArray("GET /a%20b HTTP/1.1\r\n\r\n") << ok << false;
            QTest::addRow("%s connection close", mode)
                << tls << QByteArray("GET /a%20b HTTP/1.1\r\nConnection: CLOSE\r\n\r\n") << okClose << true;
            QTest::addRow("%s HTTP/1.0", mode) << tls << QByteArray("GET /a%20b HTTP/1.0\r\n\r\n") << okClose << true;
            QTest::addRow("%s writes nothing", mode)
                << tls << QByteArray("GET /nothing HTTP/1.1\r\n\r\n") << nothing << false;
            QTest::addRow("%s service throws", mode)
                << tls << QByteArray("GET /throw HTTP/1.1\r\n\r\n") << thrown << false;
        }
    }

    void keepOrClose()
    {
        QFETCH(bool, tls);
        QFETCH(QByteArray, request);
        QFETCH(bool, closed);
        HttpTestServer server(settings(tls));
        HttpTestClient client(tls);
        QVERIFY(client.connectTo(server.port()));
        QVERIFY(client.send(request));
        const HttpTestResponse response = client.readResponse();
        QVERIFY(response.complete);
        QTEST(response.raw, "expected");
        if (closed) {
            QVERIFY(client.waitForClosed());
        } else {
            QVERIFY(client.send(HttpTestClient::get("/again")));
            QCOMPARE(client.readResponse().body, QByteArray("GET /again"));
        }
        if (request.contains("/throw"))
            QCOMPARE(m_log->count("An uncatched exception occured in the request handler"), 1);
    }

    void entityTooLarge_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QByteArray>("request");
        for (const bool tls : {false, true}) {
            const char* mode = tls ? "tls" : "plain";
            QTest::addRow("%s headers", mode)
                << tls << QByteArray("GET / HTTP/1.1\r\nX-Big: " + QByteArray(1200, 'b') + "\r\n\r\n");
            QTest::addRow("%s declared body", mode)
                << tls << QByteArray("POST / HTTP/1.1\r\nContent-Length: 2000\r\n\r\n" + QByteArray(200, 'b'));
            QTest::addRow("%s broken first line", mode) << tls << QByteArray("HELLO\r\n\r\n");
        }
    }

    void entityTooLarge()
    {
        QFETCH(bool, tls);
        QFETCH(QByteArray, request);
        HttpTestServer server(settings(tls, {{"maxRequestSize", 1000}}));
        HttpTestClient client(tls);
        QVERIFY(client.connectTo(server.port()));
        QVERIFY(client.send(request));
        QCOMPARE(client.readUntilClosed(),
                 QByteArray("HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too large\r\n"));
        QCOMPARE(server.handler()->served.load(), 0);
    }

    void silentClient_data() { addTlsColumn(); }
    void silentClient()
    {
        QFETCH(bool, tls);
        HttpTestServer server(settings(tls, {{"readTimeout", 300}}));
        HttpTestClient client(tls);
        QVERIFY(client.connectTo(server.port()));
        QCOMPARE(client.readUntilClosed(), QByteArray());
        QVERIFY(client.socket().state() == QAbstractSocket::UnconnectedState);
        QVERIFY(m_log->count("read timeout occured") >= 1);
    }

    void slowUpload()
    {
        // Each piece comes well within the timeout, the whole upload takes longer.
        HttpTestServer server(settings(false, {{"readTimeout", 1500}}));
        HttpTestClient client(false);
        QVERIFY(client.connectTo(server.port()));
        QVERIFY(client.send("POST /size HTTP/1.1\r\nContent-Type: application/octet-stream\r\n"
                            "Content-Length: 1000\r\n\r\n"));
        for (int i = 0; i < 10; ++i) {
            QTest::qWait(250);
            QVERIFY(client.send(QByteArray(100, 'u')));
        }
        const HttpTestResponse response = client.readResponse();
        QCOMPARE(response.body, QByteArray("1000"));
        QCOMPARE(m_log->count("read timeout occured"), 0);
    }

    // One handler serves every connection; what a client that left early did
    // not read must not reach the next client.
    void reusedSocket_data() { addTlsColumn(); }
    void reusedSocket()
    {
        QFETCH(bool, tls);
        HttpTestServer server(settings(tls, {{"maxThreads", 1}}));
        {
            HttpTestClient early(tls);
            QVERIFY(early.connectTo(server.port()));
            QVERIFY(early.send(HttpTestClient::get("/big?parts=40")));
            QVERIFY(m_log->waitFor("received request"));
            early.socket().abort();
        }
        QVERIFY(m_log->waitFor("): disconnected"));
        for (int round = 0; round < 2; ++round) {
            HttpTestResponse response;
            const std::unique_ptr<HttpTestClient> next = HttpTestClient::askUntilServed(
                server.port(), tls, HttpTestClient::get("/echo", "Connection: close\r\n"), &response);
            QVERIFY(next);
            QCOMPARE(response.raw, QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 9\r\n"
                                              "Content-Type: text/plain\r\n\r\nGET /echo"));
            QCOMPARE(next->readUntilClosed(), QByteArray());
        }
        QCOMPARE(server.poolSize(), 1);
    }

    // A client that requests a large answer and never reads it loses its
    // connection; the thread then serves others.
    void clientThatNeverReads_data() { addTlsColumn(); }
    void clientThatNeverReads()
    {
        QFETCH(bool, tls);
        HttpTestServer server(settings(tls, {{"maxThreads", 1}, {"readTimeout", 500}}));
        HttpTestClient stuck(tls);
        QVERIFY(stuck.connectTo(server.port()));
        // Events that run while the test waits must not drain the socket on its behalf.
        stuck.socket().setReadBufferSize(4096);
        QVERIFY(stuck.send(HttpTestClient::get("/big?parts=2000")));
        QVERIFY(m_log->waitFor("received request"));

        HttpTestResponse response;
        QVERIFY(HttpTestClient::askUntilServed(server.port(), tls, HttpTestClient::get("/echo"), &response, 30000));
        QCOMPARE(response.body, QByteArray("GET /echo"));
        QVERIFY(m_log->count("HttpResponseWriter: peer takes no data, connection aborted") >= 1);
    }

    void plainClientOnTls()
    {
        HttpTestServer server(settings(true, {{"maxThreads", 1}}));
        HttpTestClient plain(false);
        QVERIFY(plain.connectTo(server.port()));
        QVERIFY(plain.send(HttpTestClient::get("/echo")));
        plain.waitForClosed();
        QVERIFY(m_log->waitFor("Socket Error"));
        QVERIFY(m_log->waitFor("): disconnected"));
        HttpTestResponse response;
        QVERIFY(HttpTestClient::askUntilServed(server.port(), true, HttpTestClient::get("/echo"), &response));
        QCOMPARE(response.body, QByteArray("GET /echo"));
    }
};

QLK_TEST_MAIN_CORE(TestHttpConnectionHandler)
#include "tst_httpconnectionhandler.moc"

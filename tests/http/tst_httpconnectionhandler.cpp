#include "support/HttpTestRig.h"
#include "support/TestMain.h"

#include "http/HttpConnectionHandler.h"

#include <QProcess>

// Connections and their thread pool over real loopback sockets (a full pool's 503: tst_serverfaults).
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

    QTemporaryDir m_openSslDir;

private slots:
    // This process's TLS library allows every protocol and cipher, as a lax system would: the server's floor must hold.
    void initTestCase()
    {
        QFile config(m_openSslDir.filePath("openssl.cnf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("openssl_conf = init\n[init]\nssl_conf = ssl\n[ssl]\nsystem_default = lax\n"
                     "[lax]\nMinProtocol = TLSv1\nCipherString = DEFAULT@SECLEVEL=0\n");
        config.close();
        qputenv("OPENSSL_CONF", config.fileName().toLocal8Bit());
    }

    void answers_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray ok = "HTTP/1.1 200 OK\r\nContent-Length: 8\r\nContent-Type: text/plain\r\n\r\nGET /a b";
        QByteArray okClose = ok;
        okClose.insert(17, "Connection: close\r\n");
        const QByteArray get = "GET /a%20b HTTP/1.1\r\n";
        QTest::newRow("tls keep-alive") << true << get + "\r\n" << ok;
        QTest::newRow("close") << false << get + "Connection: CLOSE\r\n\r\n" << okClose;
        QTest::newRow("HTTP/1.0") << false << QByteArray("GET /a%20b HTTP/1.0\r\n\r\n") << okClose;
        QTest::newRow("service throws") << false << QByteArray("GET /throw HTTP/1.1\r\n\r\n")
                                        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        const auto refused = [](const QByteArray& status, const QByteArray& text) {
            return "HTTP/1.1 " + status + "\r\nConnection: close\r\n\r\n" + text + "\r\n";
        };
        QTest::newRow("tls broken first line")
            << true << QByteArray("HELLO\r\n\r\n") << refused("400 bad request", "400 Bad request");
        // Smuggling: which length counts is not guessed; chunks would be read as the next request.
        QTest::newRow("two Content-Lengths")
            << false << QByteArray("POST /a HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 50\r\n\r\nabc")
            << refused("400 bad request", "400 Bad request");
        QTest::newRow("chunked body")
            << false << QByteArray("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nGET /\r\n0\r\n\r\n")
            << refused("411 length required", "411 Length required");
    }

    void answers()
    {
        QFETCH(bool, tls);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        const bool closes = expected.contains("Connection: close");
        if (request.contains("/throw"))
            QTest::ignoreMessage(QtCriticalMsg,
                                 QRegularExpression("An uncatched exception occured in the request handler"));
        HttpTestServer server(settings(tls, {{"readTimeout", 5000}}));
        HttpTestClient client(tls);
        QVERIFY(client.connectTo(server.port()));
        // A kept connection also serves requests pipelined behind the first.
        QVERIFY(client.send(closes ? request : request + HttpTestClient::get("/again?n=2")));
        QCOMPARE(client.readResponse().raw, expected);
        if (closes)
            QCOMPARE(client.readUntilClosed(), QByteArray());
        else
            QCOMPARE(client.readResponse().body, QByteArray("GET /again n=2"));
        // A refused request runs nothing.
        if (!expected.startsWith("HTTP/1.1 200"))
            QCOMPARE(server.handler()->served.load(), 0);
    }

    // The header deadline is for a begun request: a kept connection waits readTimeout; a slow request is served.
    void keptConnection()
    {
        HttpTestServer server(settings(true, {{"readTimeout", 5000}, {"headerTimeout", 500}}));
        HttpTestClient client(true);
        QVERIFY(client.connectTo(server.port()));
        QVERIFY(client.send(HttpTestClient::get("/first")));
        QCOMPARE(client.readResponse().body, QByteArray("GET /first"));
        QTest::qWait(1500);
        const QByteArray request = "POST /second HTTP/1.1\r\nContent-Length: 4\r\n\r\nbody";
        for (int at = 0; at < request.size(); at += 20) {
            QVERIFY(client.send(request.mid(at, 20)));
            QTest::qWait(50);
        }
        QCOMPARE(client.readResponse().body, QByteArray("POST /second body="));
    }

    // After a client that misbehaves, the only thread serves others, and nothing of that connection reaches them.
    void threadFreed_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QString>("client");
        QTest::newRow("leaves during its answer") << true << "leaves";
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
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression("read timeout occured"));
            QCOMPARE(bad.readUntilClosed(), QByteArray());
        } else {
            QVERIFY(bad.send(HttpTestClient::get("/big?parts=2000")));
            if (client == "plain") // the server drops it, with a TLS alert at most
                QVERIFY(!bad.readUntilClosed().startsWith("still connected"));
            else
                QTRY_COMPARE(server.handler()->served.load(), 1);
        }
        if (client == "leaves")
            bad.socket().abort();
        for (int round = 0; round < 2; ++round) {
            HttpTestResponse response;
            const std::unique_ptr<HttpTestClient> next = HttpTestClient::askUntilServed(
                server.port(), tls, HttpTestClient::get("/echo", "Connection: close\r\n"), &response, 30000);
            QVERIFY(next);
            QCOMPARE(response.body, QByteArray("GET /echo"));
            QCOMPARE(next->readUntilClosed(), QByteArray());
        }
        QCOMPARE(server.poolSize(), 1);
    }

    // A request that arrives while a long answer waits for the peer (TLS signals readyRead inside): served after, once.
    void requestDuringService()
    {
        HttpTestServer server(settings(true, {{"readTimeout", 5000}}));
        HttpTestClient client(true);
        QVERIFY(client.connectTo(server.port()));
        client.socket().setReadBufferSize(4096);
        QVERIFY(client.send(HttpTestClient::get("/big?parts=128")));
        QTRY_COMPARE(server.handler()->served.load(), 1);
        QVERIFY(client.send(HttpTestClient::get("/echo")));
        client.socket().setReadBufferSize(0);
        QCOMPARE(client.readResponse(30000).body.size(), 128 * 65536);
        QCOMPARE(client.readResponse().body, QByteArray("GET /echo"));
        QCOMPARE(server.handler()->served.load(), 2);
    }

    // TLS before 1.2 is refused, whatever the system's TLS library would allow.
    void tlsVersions_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("served");
        for (const QString flag : {"tls1", "tls1_1", "tls1_2", "tls1_3"})
            QTest::newRow(qPrintable(flag)) << "-" + flag << (flag >= "tls1_2");
    }

    void tlsVersions()
    {
        QFETCH(QString, version);
        QFETCH(bool, served);
        HttpTestServer server(settings(true, {{"readTimeout", 5000}}));
        QProcess client;
        client.start("openssl", {"s_client", "-connect", QStringLiteral("127.0.0.1:%1").arg(server.port()), version,
                                 "-cipher", "DEFAULT@SECLEVEL=0", "-ign_eof", "-quiet"});
        QVERIFY2(client.waitForStarted(), "openssl is not installed");
        client.write(HttpTestClient::get("/v", "Connection: close\r\n"));
        client.closeWriteChannel();
        QVERIFY(client.waitForFinished(20000));
        QCOMPARE(client.readAllStandardOutput().contains("GET /v"), served);
    }

    // Idle handlers above minThreads go, one per tick; a busy one never does.
    void cleanupTicks()
    {
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

    void unadoptableDescriptor()
    {
        HttpTestHandler service;
        HttpConnectionHandler handler(nullptr, &service);
        handler.markBusy();
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("cannot initialize socket"));
        QMetaObject::invokeMethod(&handler, "handleConnection", Qt::QueuedConnection, Q_ARG(tSocketDescriptor, -1));
        QTRY_VERIFY(!handler.isBusy()); // free again, not lost to the pool
    }
};

QLK_TEST_MAIN_CORE(TestHttpConnectionHandler)
#include "tst_httpconnectionhandler.moc"

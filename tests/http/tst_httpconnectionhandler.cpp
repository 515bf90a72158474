#include "support/HttpTestRig.h"
#include "support/TestMain.h"

#include "http/HttpConnectionHandler.h"

#include <QProcess>
#include <QTcpServer>

// Connections and their thread pool over real loopback sockets (a full pool's 503: tst_serverfaults).
class TestHttpConnectionHandler : public QObject
{
    Q_OBJECT

    static QVariantMap settings(QVariantMap map)
    {
        map.insert("cleanupInterval", 60000);
        map.insert(HttpTestServer::tls());
        return map;
    }

    QTemporaryDir m_openSslDir;

private slots:
    // This process's TLS library allows every protocol and cipher, as a lax system would: the server's floor must hold.
    void initTestCase()
    {
        QFile config(m_openSslDir.filePath("openssl.cnf"));
        QVERIFY(config.open(QIODevice::WriteOnly) &&
                config.write("openssl_conf = init\n[init]\nssl_conf = ssl\n[ssl]\nsystem_default = lax\n"
                             "[lax]\nMinProtocol = TLSv1\nCipherString = DEFAULT@SECLEVEL=0\n") > 0);
        config.close();
        qputenv("OPENSSL_CONF", config.fileName().toLocal8Bit());
    }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray ok = "HTTP/1.1 200 OK\r\nContent-Length: 8\r\nContent-Type: text/plain\r\n\r\nGET /a b";
        QTest::newRow("keep-alive") << QByteArray("GET /a%20b HTTP/1.1\r\n\r\n") << ok;
        QTest::newRow("service throws") << QByteArray("GET /throw HTTP/1.1\r\n\r\n")
                                        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        const auto refused = [](const QByteArray& status, const QByteArray& text) {
            return "HTTP/1.1 " + status + "\r\nConnection: close\r\n\r\n" + text + "\r\n";
        };
        QTest::newRow("broken first line")
            << QByteArray("HELLO\r\n\r\n") << refused("400 bad request", "400 Bad request");
        // Smuggling: which length counts is not guessed; chunks would be read as the next request.
        QTest::newRow("two Content-Lengths")
            << QByteArray("POST /a HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 50\r\n\r\nabc")
            << refused("400 bad request", "400 Bad request");
        QTest::newRow("chunked body")
            << QByteArray("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nGET /\r\n0\r\n\r\n")
            << refused("411 length required", "411 Length required");
    }

    void answers()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        const bool refused = !expected.startsWith("HTTP/1.1 200"); // and closed
        if (request.contains("/throw"))
            QTest::ignoreMessage(QtCriticalMsg,
                                 QRegularExpression("An uncatched exception occured in the request handler"));
        HttpTestServer server(settings({{"readTimeout", 5000}}));
        HttpTestClient client(true);
        QVERIFY(client.connectTo(server.port()));
        // A kept connection also serves requests pipelined behind the first; a refused request runs nothing.
        QVERIFY(client.send(refused ? request : request + HttpTestClient::get("/again?n=2")));
        QCOMPARE(client.readResponse().raw, expected);
        if (refused)
            QCOMPARE(client.readUntilClosed(), QByteArray());
        else
            QCOMPARE(client.readResponse().body, QByteArray("GET /again n=2"));
        QCOMPARE(server.handler()->served.load(), refused ? 0 : 2);
    }

    // A client that leaves during its long answer frees the only thread; nothing of that connection reaches others.
    void threadFreed()
    {
        HttpTestServer server(settings({{"maxThreads", 1}, {"readTimeout", 500}}));
        HttpTestClient leaving(true);
        QVERIFY(leaving.connectTo(server.port()));
        leaving.socket().setReadBufferSize(4096); // events that run while the test waits must not drain it
        QVERIFY(leaving.send(HttpTestClient::get("/big?parts=2000")));
        QTRY_COMPARE(server.handler()->served.load(), 1);
        leaving.socket().abort();
        for (int round = 0; round < 2; ++round) {
            HttpTestResponse response;
            const std::unique_ptr<HttpTestClient> next = HttpTestClient::askUntilServed(
                server.port(), true, HttpTestClient::get("/echo", "Connection: close\r\n"), &response, 30000);
            QVERIFY(next);
            QCOMPARE(response.body, QByteArray("GET /echo"));
            QCOMPARE(next->readUntilClosed(), QByteArray());
        }
        QCOMPARE(server.poolSize(), 1);
    }

    // A request that arrives while a long answer waits for the peer (TLS signals readyRead inside): served after, once.
    // The header deadline is for a begun request: the kept connection waits readTimeout; a slow request is served.
    void keptConnection()
    {
        HttpTestServer server(settings({{"readTimeout", 5000}, {"headerTimeout", 500}}));
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
        QTest::qWait(1500);
        const QByteArray request = "POST /second HTTP/1.1\r\nContent-Length: 4\r\n\r\nbody";
        for (int at = 0; at < request.size(); at += 20) {
            QVERIFY(client.send(request.mid(at, 20)));
            QTest::qWait(50);
        }
        QCOMPARE(client.readResponse().body, QByteArray("POST /second body="));
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
        HttpTestServer server(settings({{"readTimeout", 5000}}));
        QProcess client;
        client.start("openssl", {"s_client", "-connect", QStringLiteral("127.0.0.1:%1").arg(server.port()), version,
                                 "-cipher", "DEFAULT@SECLEVEL=0", "-ign_eof", "-quiet"});
        QVERIFY2(client.waitForStarted(), "openssl is not installed");
        client.write(HttpTestClient::get("/v", "Connection: close\r\n"));
        client.closeWriteChannel();
        QVERIFY(client.waitForFinished(20000));
        QCOMPARE(client.readAllStandardOutput().contains("GET /v"), served);
    }

    // Idle handlers above minThreads go; a busy one never does.
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
        QTest::qWait(500); // five ticks: time enough to take the busy one too, were it taken
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

    // A peer that reads nothing does not hold the final drain past its timeout: it is disconnected.
    void drainGivesUp()
    {
        QTcpServer listener;
        QTcpSocket peer;
        QVERIFY(listener.listen(QHostAddress::LocalHost));
        peer.connectToHost(QHostAddress::LocalHost, listener.serverPort());
        QVERIFY(peer.waitForConnected(10000) && listener.waitForNewConnection(10000));
        QTcpSocket* socket = listener.nextPendingConnection();
        socket->write(QByteArray(32 << 20, 'x'));
        QVERIFY(!HttpResponseWriter::drain(socket, 300));
        QVERIFY(!socket->isOpen());
    }
};

QLK_TEST_MAIN_CORE(TestHttpConnectionHandler)
#include "tst_httpconnectionhandler.moc"

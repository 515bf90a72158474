#include "support/HttpTestRig.h"
#include "support/TestMain.h"

#include "app/Resources.h"

// The pool's cleanup and the TLS files. The 503 of a full pool is
// tst_serverfaults', switching the server off and on tst_server's.
class TestHttpListener : public QObject
{
    Q_OBJECT

private slots:
    // Idle handlers above minThreads go, one per tick; a busy one never does.
    void cleanupTicks()
    {
        HttpLogCapture log;
        HttpTestServer server({{"minThreads", 1}, {"maxThreads", 10}, {"cleanupInterval", 100}});
        std::vector<std::unique_ptr<HttpTestClient>> clients(3);
        for (auto& client : clients) {
            HttpTestResponse response;
            client = HttpTestClient::askUntilServed(server.port(), false, HttpTestClient::get("/hold"), &response);
            QVERIFY(client);
        }
        clients.resize(1);
        QTRY_COMPARE_WITH_TIMEOUT(server.poolSize(), 2, 10000);
        QTest::qWait(500);
        QVERIFY(clients.front()->send(HttpTestClient::get("/still")));
        QCOMPARE(clients.front()->readResponse().body, QByteArray("GET /still"));
        clients.clear();
        QTRY_COMPARE_WITH_TIMEOUT(server.poolSize(), 1, 10000);
        QVERIFY(log.lines().filter("Removed connection handler").last().endsWith("pool size is now 1"));
    }

    // Without both files the server serves plain text; a named file that is
    // missing is reported.
    void tlsFiles_data()
    {
        const QString build = qEnvironmentVariable("QLK_BUILD_DIR") + "/ssl/";
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("cert");
        QTest::addColumn<QString>("critical"); // empty: none; "tls": none, and the server speaks TLS
        // The files compiled into the program; the certificate names both loopback hosts.
        QTest::newRow("resource files") << ":/ssl/qlk.key"
                                        << ":/ssl/qlk.cert"
                                        << "tls";
        QTest::newRow("key only") << build + "qlk.key" << QString() << QString();
        QTest::newRow("no key file") << build + "none.key" << build + "qlk.cert"
                                     << "HttpConnectionHandlerPool: cannot open sslKeyFile " + build + "none.key";
        QTest::newRow("no certificate file")
            << build + "qlk.key" << build + "none.cert"
            << "HttpConnectionHandlerPool: cannot open sslCertFile " + build + "none.cert";
    }

    void tlsFiles()
    {
        QFETCH(QString, key);
        QFETCH(QString, cert);
        QFETCH(QString, critical);
        Resources::init();
        HttpLogCapture log;
        HttpTestServer server({{"cleanupInterval", 60000}, {"sslKeyFile", key}, {"sslCertFile", cert}});
        for (const char* host : {"localhost", "127.0.0.1"}) {
            HttpTestClient client(critical == "tls");
            QVERIFY(client.connectTo(server.port(), host));
            QVERIFY(client.send(HttpTestClient::get("/files")));
            QCOMPARE(client.readResponse().body, QByteArray("GET /files"));
        }
        QCOMPARE(log.count("HttpConnectionHandlerPool: SSL settings loaded"), critical == "tls" ? 1 : 0);
        QCOMPARE(log.lines().filter("ssl"), critical.startsWith("Http") ? QStringList{critical} : QStringList());
    }
};

QLK_TEST_MAIN_CORE(TestHttpListener)
#include "tst_httplistener.moc"

#include "support/HttpTestRig.h"
#include "support/TestMain.h"

#include "app/Resources.h"
#include "http/HttpListener.h"

#include <QProcess>
#include <QSettings>

#include <memory>

// The listener and its pool: cleanup, TLS files and chains, close and listen.
// The 503 refusal of a full pool is tst_serverfaults'.
class TestHttpListener : public QObject
{
    Q_OBJECT

    static QString build(const char* file) { return qEnvironmentVariable("QLK_BUILD_DIR") + "/ssl/" + file; }

    // Asks once and keeps the connection (and with it a handler).
    static std::unique_ptr<HttpTestClient> holdConnection(quint16 port, bool tls = false)
    {
        HttpTestResponse response;
        auto client = HttpTestClient::askUntilServed(port, tls, HttpTestClient::get("/hold"), &response);
        return client && response.body == "GET /hold" ? std::move(client) : nullptr;
    }

    std::unique_ptr<HttpLogCapture> m_log;

private slots:
    void initTestCase() { m_log = std::make_unique<HttpLogCapture>(); }
    void init() { m_log->clear(); }

    // Idle handlers above minThreads go, one per tick; a busy one never does.
    void cleanupTicks()
    {
        HttpTestServer server({{"minThreads", 1}, {"maxThreads", 10}, {"cleanupInterval", 100}});
        std::vector<std::unique_ptr<HttpTestClient>> clients;
        for (int i = 0; i < 3; ++i) {
            clients.push_back(holdConnection(server.port()));
            QVERIFY(clients.back());
        }
        clients.resize(1);
        QTRY_COMPARE_WITH_TIMEOUT(server.poolSize(), 2, 10000);
        QTest::qWait(500);
        QCOMPARE(server.poolSize(), 2);
        QVERIFY(clients.front()->send(HttpTestClient::get("/still")));
        QCOMPARE(clients.front()->readResponse().body, QByteArray("GET /still"));
        clients.clear();
        QTRY_COMPARE_WITH_TIMEOUT(server.poolSize(), 1, 10000);
        QCOMPARE(m_log->lines().filter("Removed connection handler").last().right(1), QString("1"));
    }

    // The server sends the whole chain of its certificate file, in file order;
    // file names are relative to the settings file.
    void certificateChain()
    {
        HttpTestServer server({{"cleanupInterval", 60000}});
        const QString dir = server.directory();
        const QString ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 ";
        const QString ca = " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign";
        QByteArray chainPem;
        for (const QString& step :
             {ec + "-keyout root.key -out root.pem -subj /CN=Root" + ca,
              ec + "-CA root.pem -CAkey root.key -keyout int.key -out int.pem -subj /CN=Intermediate" + ca,
              QString("-newkey rsa:2048 -CA int.pem -CAkey int.key -keyout leaf.key -out leaf.pem -subj /CN=localhost "
                      "-addext subjectAltName=IP:127.0.0.1 -addext extendedKeyUsage=serverAuth")}) {
            QProcess openssl;
            openssl.setWorkingDirectory(dir);
            openssl.start("openssl", ("req -x509 -nodes -days 2 " + step).split(' '));
            QVERIFY(openssl.waitForFinished(60000) && openssl.exitCode() == 0);
            QFile pem(dir + '/' + step.section(" -out ", 1).section(' ', 0, 0));
            QVERIFY(pem.open(QIODevice::ReadOnly));
            chainPem.prepend(pem.readAll());
        }
        QFile chainFile(dir + "/chain.pem");
        QVERIFY(chainFile.open(QIODevice::WriteOnly) && chainFile.write(chainPem) == chainPem.size());
        chainFile.close();
        server.run([&server]() {
            server.listener()->close();
            server.settings()->setValue("sslKeyFile", "leaf.key");
            server.settings()->setValue("sslCertFile", "chain.pem");
            server.listener()->listen();
        });
        // The client knows only the root: the intermediate must come from the server.
        const QList<QSslCertificate> chain = QSslCertificate::fromData(chainPem);
        HttpTestClient client(true, {chain.last()});
        QVERIFY(client.connectTo(server.port()));
        QCOMPARE(client.socket().peerCertificateChain(), chain);
    }

    // Without both TLS files the server serves plain text; a named file that
    // is missing is reported.
    void tlsFiles_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("cert");
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QString>("critical");
        // The files compiled into the program; the certificate names both loopback hosts.
        QTest::newRow("resource files") << ":/ssl/qlk.key"
                                        << ":/ssl/qlk.cert" << true << QString();
        QTest::newRow("key only") << build("qlk.key") << QString() << false << QString();
        QTest::newRow("no key file") << build("none.key") << build("qlk.cert") << false
                                     << "HttpConnectionHandlerPool: cannot open sslKeyFile " + build("none.key");
        QTest::newRow("no certificate file")
            << build("qlk.key") << build("none.cert") << false
            << "HttpConnectionHandlerPool: cannot open sslCertFile " + build("none.cert");
    }

    void tlsFiles()
    {
        QFETCH(QString, key);
        QFETCH(QString, cert);
        QFETCH(bool, tls);
        QFETCH(QString, critical);
        Resources::init();
        HttpTestServer server({{"cleanupInterval", 60000}, {"sslKeyFile", key}, {"sslCertFile", cert}});
        for (const char* host : {"localhost", "127.0.0.1"}) {
            HttpTestClient client(tls);
            QVERIFY(client.connectTo(server.port(), host));
            QVERIFY(client.send(HttpTestClient::get("/files")));
            QCOMPARE(client.readResponse().body, QByteArray("GET /files"));
        }
        QCOMPARE(m_log->count("HttpConnectionHandlerPool: SSL settings loaded"), tls ? 1 : 0);
        QCOMPARE(m_log->lines().filter("ssl"), critical.isEmpty() ? QStringList() : QStringList{critical});
    }

    // Close ends the pool and its threads; listen binds the port now set, or
    // says why it cannot.
    void closeAndListenAgain()
    {
        HttpTestServer server({{"cleanupInterval", 60000}});
        const quint16 oldPort = server.port();
        QVERIFY(holdConnection(oldPort));
        QTcpServer occupant;
        QVERIFY(occupant.listen(QHostAddress::Any, 0));
        const quint16 port = occupant.serverPort();
        bool listening = true;
        server.run([&server, &listening, port]() {
            server.listener()->close();
            server.settings()->setValue("port", port);
            server.listener()->listen();
            listening = server.listener()->isListening();
        });
        QCOMPARE(m_log->count("): thread stopped"), 1);
        QVERIFY(!listening);
        QCOMPARE(m_log->count(QString("HttpListener: Cannot bind on port %1: ").arg(port)), 1);
        occupant.close();
        server.run([&server]() { server.listener()->listen(); });
        QCOMPARE(server.port(), port);
        QVERIFY(holdConnection(port));
        QTcpSocket old;
        old.connectToHost(QHostAddress::LocalHost, oldPort);
        QVERIFY(!old.waitForConnected(2000));
    }
};

QLK_TEST_MAIN_CORE(TestHttpListener)
#include "tst_httplistener.moc"

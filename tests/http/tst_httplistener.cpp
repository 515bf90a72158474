#include "support/HttpTestRig.h"
#include "support/TestMain.h"

#include "app/Resources.h"
#include "http/HttpListener.h"

#include <QProcess>
#include <QSettings>
#include <QTcpServer>

#include <memory>

// The listener and its pool: thread limits, the 503 refusal, cleanup, TLS files,
// close and listen.
class TestHttpListener : public QObject
{
    Q_OBJECT

private:
    static QVariantMap settings(const QString& key = QString(), const QString& cert = QString())
    {
        QVariantMap map{{"cleanupInterval", 60000}};
        if (!key.isNull())
            map.insert("sslKeyFile", key);
        if (!cert.isNull())
            map.insert("sslCertFile", cert);
        return map;
    }

    static QString build(const char* file) { return qEnvironmentVariable("QLK_BUILD_DIR") + "/ssl/" + file; }

    static bool openssl(const QString& directory, const QString& arguments)
    {
        QProcess process;
        process.setWorkingDirectory(directory);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start("openssl", arguments.split(' '));
        if (process.waitForFinished(60000) && process.exitCode() == 0)
            return true;
        qWarning("openssl %s: %s", qPrintable(arguments), process.readAll().constData());
        return false;
    }

    // Asks once and keeps the connection (and with it a handler).
    static std::unique_ptr<HttpTestClient> holdConnection(quint16 port, bool tls)
    {
        HttpTestResponse response;
        auto client = HttpTestClient::askUntilServed(port, tls, HttpTestClient::get("/hold"), &response);
        return client && response.body == "GET /hold" ? std::move(client) : nullptr;
    }

    std::unique_ptr<HttpLogCapture> m_log;

private slots:
    void initTestCase() { m_log = std::make_unique<HttpLogCapture>(); }
    void init() { m_log->clear(); }

    void tooManyConnections_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::newRow("plain") << false;
        QTest::newRow("tls") << true;
    }

    void tooManyConnections()
    {
        QFETCH(bool, tls);
        QVariantMap map = tls ? settings(build("qlk.key"), build("qlk.cert")) : settings();
        map.insert("maxThreads", 2);
        HttpTestServer server(map);
        std::unique_ptr<HttpTestClient> first = holdConnection(server.port(), tls);
        std::unique_ptr<HttpTestClient> second = holdConnection(server.port(), tls);
        QVERIFY(first && second);

        // The refusal is plain text, also on a TLS server.
        HttpTestClient third(false);
        QVERIFY(third.connectTo(server.port()));
        QCOMPARE(third.readUntilClosed(),
                 QByteArray("HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\nToo many connections\r\n"));
        QCOMPARE(m_log->count("HttpListener: Too many incoming connections"), 1);

        first.reset();
        QVERIFY(m_log->waitFor("): disconnected"));
        QVERIFY(holdConnection(server.port(), tls));
        // Served by the freed handler: no third thread.
        QCOMPARE(server.poolSize(), 2);
        QCOMPARE(m_log->count("): constructed"), 2);
    }

    // Idle handlers above minThreads go, one per tick; a busy one never does.
    void cleanupTicks()
    {
        HttpTestServer server({{"minThreads", 1}, {"maxThreads", 10}, {"cleanupInterval", 100}});
        std::vector<std::unique_ptr<HttpTestClient>> clients;
        for (int i = 0; i < 4; ++i) {
            clients.push_back(holdConnection(server.port(), false));
            QVERIFY(clients.back());
        }
        QCOMPARE(server.poolSize(), 4);
        clients.resize(1);
        QTRY_COMPARE_WITH_TIMEOUT(server.poolSize(), 2, 10000);
        QTest::qWait(500);
        QCOMPARE(server.poolSize(), 2);
        clients.clear();
        QTRY_COMPARE_WITH_TIMEOUT(server.poolSize(), 1, 10000);
        QTest::qWait(500);
        QCOMPARE(server.poolSize(), 1);
        QStringList sizes;
        for (const QString& line : m_log->lines().filter("Removed connection handler"))
            sizes << line.section(' ', -1);
        QCOMPARE(sizes, (QStringList{"3", "2", "1"}));
    }

    void certificateChainInFileOrder()
    {
        HttpTestServer server(settings());
        const QString dir = server.directory();
        // A root, an intermediate and the server's certificate, each signed by the one before.
        const QString ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 ";
        const QString ca = " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign";
        for (const QString& step :
             {ec + "-keyout root.key -out root.pem -subj /CN=Root" + ca,
              ec + "-CA root.pem -CAkey root.key -keyout int.key -out int.pem -subj /CN=Intermediate" + ca,
              QString("-newkey rsa:2048 -CA int.pem -CAkey int.key -keyout leaf.key -out leaf.pem -subj /CN=localhost "
                      "-addext subjectAltName=DNS:localhost,IP:127.0.0.1 -addext extendedKeyUsage=serverAuth")})
            QVERIFY(openssl(dir, "req -x509 -nodes -days 2 " + step));
        QList<QSslCertificate> chain;
        QFile chainFile(dir + "/chain.pem");
        QVERIFY(chainFile.open(QIODevice::WriteOnly));
        for (const char* name : {"leaf.pem", "int.pem", "root.pem"}) {
            QFile file(dir + '/' + name);
            QVERIFY(file.open(QIODevice::ReadOnly));
            chain += QSslCertificate(file.readAll());
            chainFile.write(chain.last().toPem());
        }
        chainFile.close();

        // Names relative to the settings file; the new pool loads them.
        server.run([&server]() {
            server.listener()->close();
            server.settings()->setValue("sslKeyFile", "leaf.key");
            server.settings()->setValue("sslCertFile", "chain.pem");
            server.listener()->listen();
        });
        QCOMPARE(m_log->count("HttpConnectionHandlerPool: SSL settings loaded"), 1);

        // The client knows only the root: the intermediate must come from the server.
        HttpTestClient client(true, {chain.last()});
        QVERIFY(client.connectTo(server.port()));
        QCOMPARE(client.socket().peerCertificateChain(), chain);
        QVERIFY(client.send(HttpTestClient::get("/chain")));
        QCOMPARE(client.readResponse().body, QByteArray("GET /chain"));
    }

    // Without both TLS files the server serves plain text; a named file that
    // is missing is reported.
    void tlsFiles_data()
    {
        QTest::addColumn<QVariantMap>("files");
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QString>("critical");
        // The files compiled into the program; the certificate names both loopback hosts.
        QTest::newRow("resource files") << settings(":/ssl/qlk.key", ":/ssl/qlk.cert") << true << QString();
        QTest::newRow("key only") << settings(build("qlk.key")) << false << QString();
        QTest::newRow("no key file") << settings(build("none.key"), build("qlk.cert")) << false
                                     << "HttpConnectionHandlerPool: cannot open sslKeyFile " + build("none.key");
        QTest::newRow("no certificate file")
            << settings(build("qlk.key"), build("none.cert")) << false
            << "HttpConnectionHandlerPool: cannot open sslCertFile " + build("none.cert");
    }

    void tlsFiles()
    {
        QFETCH(QVariantMap, files);
        QFETCH(bool, tls);
        QFETCH(QString, critical);
        Resources::init();
        HttpTestServer server(files);
        for (const char* host : {"localhost", "127.0.0.1"}) {
            HttpTestClient client(tls);
            QVERIFY(client.connectTo(server.port(), host));
            QVERIFY(client.socket().sslHandshakeErrors().isEmpty());
            QVERIFY(client.send(HttpTestClient::get("/files")));
            QCOMPARE(client.readResponse().body, QByteArray("GET /files"));
        }
        QCOMPARE(m_log->lines().filter("SSL settings loaded").size(), tls ? 1 : 0);
        QCOMPARE(m_log->lines().filter("ssl"), critical.isEmpty() ? QStringList() : QStringList{critical});
    }

    // Close ends the pool and its threads; listen binds the port now set, or
    // says why it cannot.
    void closeAndListenAgain()
    {
        HttpTestServer server(settings());
        const quint16 oldPort = server.port();
        QVERIFY(holdConnection(oldPort, false));
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
        QCOMPARE(m_log->lines().filter(QString("HttpListener: Cannot bind on port %1: ").arg(port)).size(), 1);

        occupant.close();
        server.run([&server]() { server.listener()->listen(); });
        QCOMPARE(server.port(), port);
        QVERIFY(holdConnection(port, false));
        QTcpSocket old;
        old.connectToHost(QHostAddress::LocalHost, oldPort);
        QVERIFY(!old.waitForConnected(2000));
    }
};

QLK_TEST_MAIN_CORE(TestHttpListener)
#include "tst_httplistener.moc"

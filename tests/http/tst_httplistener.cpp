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
    static QVariantMap tlsFiles(const QString& key, const QString& cert)
    {
        QVariantMap map;
        if (!key.isNull())
            map.insert("sslKeyFile", key);
        if (!cert.isNull())
            map.insert("sslCertFile", cert);
        return map;
    }

    static QVariantMap withDefaults(QVariantMap map)
    {
        map.insert("cleanupInterval", map.value("cleanupInterval", 60000));
        return map;
    }

    static bool openssl(const QString& directory, const QStringList& arguments)
    {
        QProcess process;
        process.setWorkingDirectory(directory);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start("openssl", arguments);
        if (!process.waitForFinished(60000) || process.exitCode() != 0) {
            qWarning("openssl %s: %s", qPrintable(arguments.join(' ')), process.readAll().constData());
            return false;
        }
        return true;
    }

    static bool writeFile(const QString& path, const QByteArray& data)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
    }

    static quint16 freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::Any, 0);
        return probe.serverPort();
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
        const QString build = qEnvironmentVariable("QLK_BUILD_DIR");
        QVariantMap settings{{"maxThreads", 2}};
        if (tls)
            settings.insert(tlsFiles(build + "/ssl/qlk.key", build + "/ssl/qlk.cert"));
        HttpTestServer server(withDefaults(settings));
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
        std::unique_ptr<HttpTestClient> fourth = holdConnection(server.port(), tls);
        QVERIFY(fourth);
        // Served by the freed handler: no third thread.
        QCOMPARE(server.poolSize(), 2);
        QCOMPARE(m_log->count("): constructed"), 2);
    }

    void cleanupTicks()
    {
        HttpTestServer server({{"minThreads", 1}, {"maxThreads", 10}, {"cleanupInterval", 100}});
        std::vector<std::unique_ptr<HttpTestClient>> clients;
        for (int i = 0; i < 4; ++i) {
            clients.push_back(holdConnection(server.port(), false));
            QVERIFY(clients.back());
        }
        QCOMPARE(server.poolSize(), 4);

        // One stays busy: it is never removed and does not count as idle.
        clients.resize(1);
        QTRY_COMPARE_WITH_TIMEOUT(server.poolSize(), 2, 10000);
        QTest::qWait(500);
        QCOMPARE(server.poolSize(), 2);

        clients.clear();
        QTRY_COMPARE_WITH_TIMEOUT(server.poolSize(), 1, 10000);
        QTest::qWait(500);
        QCOMPARE(server.poolSize(), 1);

        QStringList sizes;
        const QRegularExpression removed("^HttpConnectionHandlerPool: Removed connection handler \\(0x[0-9a-f]+\\), "
                                         "pool size is now (\\d+)$");
        for (const QString& line : m_log->lines()) {
            const QRegularExpressionMatch match = removed.match(line);
            if (match.hasMatch())
                sizes << match.captured(1);
        }
        QCOMPARE(sizes, (QStringList{"3", "2", "1"}));
    }

    void certificateChainInFileOrder()
    {
        HttpTestServer server(withDefaults({}));
        const QString dir = server.directory();
        const QStringList ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
        QVERIFY(
            writeFile(dir + "/ca.ext", "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n"));
        QVERIFY(
            writeFile(dir + "/leaf.ext", "subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n"));
        QVERIFY(openssl(dir, QStringList{"req", "-x509"} + ec +
                                 QStringList{"-keyout", "root.key", "-out", "root.pem", "-subj", "/CN=Test Root",
                                             "-days", "2", "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
                                             "keyUsage=critical,keyCertSign,cRLSign"}));
        QVERIFY(
            openssl(dir, QStringList{"req"} + ec +
                             QStringList{"-keyout", "int.key", "-out", "int.csr", "-subj", "/CN=Test Intermediate"}));
        QVERIFY(openssl(dir, {"x509", "-req", "-in", "int.csr", "-CA", "root.pem", "-CAkey", "root.key",
                              "-CAcreateserial", "-days", "2", "-extfile", "ca.ext", "-out", "int.pem"}));
        QVERIFY(openssl(dir, {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "leaf.key", "-out", "leaf.csr",
                              "-subj", "/CN=localhost"}));
        QVERIFY(openssl(dir, {"x509", "-req", "-in", "leaf.csr", "-CA", "int.pem", "-CAkey", "int.key",
                              "-CAcreateserial", "-days", "2", "-extfile", "leaf.ext", "-out", "leaf.pem"}));
        QList<QSslCertificate> chain;
        QByteArray chainFile;
        for (const char* name : {"leaf.pem", "int.pem", "root.pem"}) {
            QFile file(dir + '/' + name);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray pem = file.readAll();
            chainFile += pem;
            chain += QSslCertificate(pem);
        }
        QVERIFY(writeFile(dir + "/chain.pem", chainFile));

        // Names relative to the settings file; the new pool loads them.
        server.run([&server]() {
            server.listener()->close();
            server.settings()->setValue("sslKeyFile", "leaf.key");
            server.settings()->setValue("sslCertFile", "chain.pem");
            server.listener()->listen();
        });
        QCOMPARE(m_log->count("has key"), 1);
        QCOMPARE(m_log->count("HttpConnectionHandlerPool: SSL settings loaded"), 1);

        // The client knows only the root: the intermediate must come from the server.
        HttpTestClient client(true, {chain.last()});
        QVERIFY(client.connectTo(server.port()));
        QCOMPARE(client.socket().peerCertificateChain(), chain);
        QVERIFY(client.send(HttpTestClient::get("/chain")));
        QCOMPARE(client.readResponse().body, QByteArray("GET /chain"));
    }

    void missingKeyOrCertificate_data()
    {
        const QString build = qEnvironmentVariable("QLK_BUILD_DIR");
        QTest::addColumn<QVariantMap>("files");
        QTest::addColumn<QString>("critical");
        QTest::newRow("key only") << tlsFiles(build + "/ssl/qlk.key", QString()) << QString();
        QTest::newRow("certificate only") << tlsFiles(QString(), build + "/ssl/qlk.cert") << QString();
        QTest::newRow("empty certificate name") << tlsFiles(build + "/ssl/qlk.key", "") << QString();
        QTest::newRow("no key file") << tlsFiles(build + "/ssl/none.key", build + "/ssl/qlk.cert")
                                     << QString("HttpConnectionHandlerPool: cannot open sslKeyFile " + build +
                                                "/ssl/none.key");
        QTest::newRow("no certificate file")
            << tlsFiles(build + "/ssl/qlk.key", build + "/ssl/none.cert")
            << QString("HttpConnectionHandlerPool: cannot open sslCertFile " + build + "/ssl/none.cert");
    }

    void missingKeyOrCertificate()
    {
        QFETCH(QVariantMap, files);
        QFETCH(QString, critical);
        HttpTestServer server(withDefaults(files));
        HttpTestClient client(false);
        QVERIFY(client.connectTo(server.port()));
        QVERIFY(client.send(HttpTestClient::get("/plain")));
        QCOMPARE(client.readResponse().body, QByteArray("GET /plain"));
        const QStringList lines = m_log->lines();
        QCOMPARE(lines.filter("SSL").size(), 0);
        QCOMPARE(lines.filter("ssl").size(), critical.isEmpty() ? 0 : 1);
        if (!critical.isEmpty())
            QVERIFY(lines.contains(critical));
    }

    void closeThenListenOnNewPort()
    {
        HttpTestServer server(withDefaults({}));
        QVERIFY(m_log->lines().contains("HttpListener: Listening on port 0"));
        const quint16 oldPort = server.port();
        QVERIFY(holdConnection(oldPort, false));

        const quint16 newPort = freePort();
        server.run([&server, newPort]() {
            server.listener()->close();
            server.settings()->setValue("port", newPort);
        });
        QCOMPARE(server.poolSize(), -1);
        QCOMPARE(m_log->count("HttpListener: closed"), 1);
        QCOMPARE(m_log->count("HttpConnectionHandlerPool (0x"), 1);
        QCOMPARE(m_log->count("): thread stopped"), 1);

        server.run([&server]() { server.listener()->listen(); });
        QCOMPARE(server.port(), newPort);
        QVERIFY(m_log->lines().contains(QString("HttpListener: Listening on port %1").arg(newPort)));
        QVERIFY(holdConnection(newPort, false));
        QTcpSocket old;
        old.connectToHost(QHostAddress::LocalHost, oldPort);
        QVERIFY(!old.waitForConnected(2000));
    }

    void portInUse()
    {
        QTcpServer occupant;
        QVERIFY(occupant.listen(QHostAddress::Any, 0));
        HttpTestServer server(withDefaults({{"port", occupant.serverPort()}}));
        QVERIFY(!server.listener()->isListening());
        const QStringList lines = m_log->lines().filter("HttpListener: Cannot bind on port");
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines.first().startsWith(QString("HttpListener: Cannot bind on port %1: ").arg(occupant.serverPort())));
    }

    // The files compiled into the program: the build's key and certificate.
    void resourceFiles_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("localhost") << "localhost";
        QTest::newRow("127.0.0.1") << "127.0.0.1";
    }

    void resourceFiles()
    {
        QFETCH(QString, host);
        Resources::init();
        HttpTestServer server(withDefaults(tlsFiles(":/ssl/qlk.key", ":/ssl/qlk.cert")));
        HttpTestClient client(true);
        QVERIFY(client.connectTo(server.port(), host));
        QVERIFY(client.socket().sslHandshakeErrors().isEmpty());
        QVERIFY(client.send(HttpTestClient::get("/resource")));
        QCOMPARE(client.readResponse().body, QByteArray("GET /resource"));
    }
};

QLK_TEST_MAIN_CORE(TestHttpListener)
#include "tst_httplistener.moc"

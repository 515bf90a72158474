// Hostile callers of the API: wrong keys, foreign origins, oversized requests; keys unguessable and kept.
#include "ReliabilityRig.h"
#include "support/ApiServer.h"
#include "support/ProgramRunner.h"
#include "support/TestMain.h"

#include "api/KeyAttempts.h"
#include "http/ClientAddress.h"

#include <QUrl>

class TestSecurity : public QObject
{
    Q_OBJECT
    ApiServer m_server;
    ApiClient client() const { return m_server.client(); }

private slots:
    void initTestCase() { QVERIFY2(m_server.isValid(), qPrintable(m_server.errorString())); }

    // Chi-square over 62 symbols, 61 degrees of freedom: above 140 by chance once in 10^7 runs.
    void generatedKeys()
    {
        const QString alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        QSet<QString> keys;
        QHash<QChar, int> frequency;
        for (int i = 0; i < 10000; ++i) {
            const QString key = PrintClient::newSecurityKey();
            QVERIFY2(key.size() == 12 && key.endsWith("v4.0"), qPrintable(key));
            for (const QChar c : key.left(8))
                ++frequency[alphabet.contains(c) ? c : QChar('?')];
            keys.insert(key);
        }
        double chiSquare = 0, expected = 80000.0 / alphabet.size();
        for (const QChar c : alphabet)
            chiSquare += (frequency.value(c) - expected) * (frequency.value(c) - expected) / expected;
        QVERIFY2(keys.size() == 10000 && !frequency.contains('?') && chiSquare < 140,
                 qPrintable(QString::number(chiSquare)));
    }

    void keyRefused_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<ApiHeaders>("headers");
        const QByteArray key = ApiServer::defaultKey().toUtf8();
        const auto authorization = [](const QByteArray& value) { return ApiHeaders{{"Authorization", value}}; };
        QTest::newRow("missing") << QByteArray() << ApiHeaders();
        for (const QByteArray& wrong : QByteArrayList{"", key.left(11), key + "x", key.toLower(), "aGVsbG8v4.0"}) {
            QTest::addRow("bearer '%s'", wrong.constData()) << QByteArray() << authorization("Bearer " + wrong);
            QTest::addRow("parameter '%s'", wrong.constData())
                << "?securityKey=" + QUrl::toPercentEncoding(wrong) << ApiHeaders();
        }
        QTest::newRow("bearer without space") << QByteArray() << authorization("Bearer" + key);
        QTest::newRow("basic scheme") << QByteArray() << authorization("Basic " + key);
    }
    void keyRefused()
    {
        QFETCH(QByteArray, query);
        QFETCH(ApiHeaders, headers);
        for (const QByteArray& route :
             QByteArray("/getPrinters /getPrinterStatus /sendJob /previewJob /setNotificationOrder /getStatus /getTpas "
                        "/getTpaStatus /getTpaTransactionStatus /clearTpaTransactionStatus /sendTpaOpen /sendTpaClose "
                        "/sendTpaPurchase /sendTpaRefund /sendTpaOpenMenu /sendTpaReprintLastReceipt /unknown "
                        "/getStatus/x /favicon.ico")
                 .split(' '))
            for (const QByteArray& path : {route, route + '/'})
                for (const QByteArray& method : {QByteArray("GET"), QByteArray("POST")}) {
                    m_server.forgetWrongKeys();
                    const ApiReply reply = client().request(method, path + query, headers);
                    QVERIFY2(reply.status == 401 && reply.json().value("error") == "Invalid security key",
                             qPrintable(method + ' ' + path + query));
                }
    }

    void origin_data()
    {
        QTest::addColumn<QByteArray>("origin"); // null: no Origin header
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<QByteArray>("fetchSite"); // Sec-Fetch-Site; null: none sent
        const auto row = [](const char* name, const QByteArray& origin, bool allowed, const QByteArray& site = {}) {
            QTest::newRow(name) << origin << allowed << site;
        };
        row("no origin (curl, native programs)", {}, true);
        row("own domain", "https://quorva.pt", true);
        row("deep subdomain with port", "https://a.b.quorvapos.com:8443", true);
        row("localhost with port", "http://localhost:3000", true);
        row("empty", "", false);
        row("loopback address", "http://127.0.0.1:3000", false);
        row("suffix without dot", "https://evilquorva.pt", false);
        row("domain as a label", "https://quorva.pt.evil.example", false);
        row("localhost as a label", "http://localhost.evil.example", false);
        row("localhost prefix", "http://localhostevil", false);
        row("localhost suffix", "http://evillocalhost", false);
        row("userinfo", "https://quorva.pt@evil.example", false);
        row("path", "https://evil.example/quorva.pt", false);
        row("null", "null", false);
        row("other scheme", "file://quorva.pt", false);
        // Browsers send no Origin with the GET of an image, a script, a frame or a link.
        row("image or link of another site", {}, false, "cross-site");
        row("another port of this site", {}, false, "same-site");
        row("fetch-site empty", {}, false, "");
        row("address typed by the user", {}, true, "none");
        row("own page", {}, true, "same-origin");
        row("web app's fetch", "https://app.quorva.pt", true, "cross-site");
    }
    // Refused before the key or the endpoint, also the preflight, without CORS headers.
    void origin()
    {
        QFETCH(QByteArray, origin);
        QFETCH(bool, allowed);
        QFETCH(QByteArray, fetchSite);
        ApiHeaders headers = origin.isNull() ? ApiHeaders() : ApiHeaders{{"Origin", origin}};
        if (!fetchSite.isNull())
            headers.append({"Sec-Fetch-Site", fetchSite});
        const int before = m_server.printClient().notifications().size();
        const ApiReply post = client().postJson(
            "/setNotificationOrder",
            QByteArray(R"({"request_id": 1, "terminal_id": 1, "status_id": 1, "title": "t", "subtitle": "s"})"),
            m_server.bearer() + headers);
        const ApiReply preflight =
            client().request("OPTIONS", "/sendJob",
                             headers + ApiHeaders{{"Access-Control-Request-Method", "POST"},
                                                  {"Access-Control-Request-Private-Network", "true"}});
        QCOMPARE(m_server.printClient().notifications().size(), before + (allowed ? 1 : 0));
        const QByteArray echoed = !allowed ? QByteArray() : origin.isNull() ? "https://app.quorva.pt" : origin;
        for (const ApiReply& reply : {post, preflight}) {
            QCOMPARE(reply.status, allowed ? 200 : 403);
            QCOMPARE(reply.header("Access-Control-Allow-Origin"), echoed);
            QCOMPARE(reply.header("Vary"), QByteArray("Origin"));
        }
        QCOMPARE(preflight.headers.contains("access-control-allow-methods"), allowed);
        QCOMPARE(preflight.headers.contains("access-control-allow-private-network"), allowed);
        if (!allowed)
            QCOMPARE(post.json().value("error"), QJsonValue("Origin not allowed"));
    }

    // Each wrong key counts once, a foreign page's not at all; past 20 every keyed path is 429, "/" and preflights not.
    void tooManyAttempts()
    {
        m_server.forgetWrongKeys();
        const auto guess = [this](int count, const ApiHeaders& headers, int status) {
            for (int i = 0; i < count; ++i)
                QCOMPARE(client().get("/getStatus?securityKey=guess" + QByteArray::number(i), headers).status, status);
        };
        guess(25, {{"Sec-Fetch-Site", "cross-site"}}, 403);
        guess(20, {}, 401);
        const ApiClient guesser(m_server.port(), QHostAddress("127.0.0.2"));
        QCOMPARE(guesser.get("/getStatus", m_server.bearer()).status, 200);
        guess(1, {}, 401);
        for (const QByteArray& path : {QByteArray("/getStatus"), QByteArray("/sendJob"), QByteArray("/nowhere")}) {
            const ApiReply reply = guesser.get(path, m_server.bearer());
            QVERIFY2(reply.status == 429 && reply.json().value("error") == "Too many attempts", path.constData());
        }
        QCOMPARE(guesser.postJson("/getStatus", QByteArray("{\"securityKey\": ")).status, 429);
        QCOMPARE(guesser.get("/").status, 200);
        QCOMPARE(guesser.request("OPTIONS", "/getStatus").status, 200);
        m_server.forgetWrongKeys(); // its end in time is a row of attempts; the tests below need the key
    }

    // The window in time and who counts as one client: this computer on any loopback address, an IPv4 address, a /64.
    void attempts_data()
    {
        QTest::addColumn<QList<qint64>>("failures"); // times in ms of the guesser's wrong keys
        QTest::addColumn<QString>("guesser");
        QTest::addColumn<QString>("asking");
        QTest::addColumn<qint64>("askedAt");
        QTest::addColumn<qint64>("blockedFor");
        const auto times = [](qint64 first, qint64 step) {
            QList<qint64> at;
            for (int i = 0; i < 21; ++i)
                at << first + i * step;
            return at;
        };
        const QList<qint64> burst = times(0, 1), spread = times(0, 500); // the first has left when the 21st comes
        const auto row = [&](const char* name, const QString& guesser, const QString& asking, qint64 blockedFor,
                             const QList<qint64>& failures = {}, qint64 askedAt = 21) {
            QTest::newRow(name) << (failures.isEmpty() ? burst : failures) << guesser << asking << askedAt
                                << blockedFor;
        };
        row("IPv6 loopback", "127.0.0.1", "::1", 9999);
        row("IPv6 loopback guessing", "::1", "::ffff:127.0.0.2", 9999);
        row("loopback is not the network", "127.0.0.1", "192.0.2.1", 0);
        row("same /64", "2001:db8:0:1::1", "2001:db8:0:1:ffff:1:2:3", 9999);
        row("next /64", "2001:db8:0:1::1", "2001:db8:0:2::1", 0);
        row("IPv4 neighbour", "192.0.2.1", "192.0.2.2", 0);
        row("21 over 10 s", "192.0.2.1", "192.0.2.1", 0, spread, 10001);
        row("window over", "192.0.2.1", "192.0.2.1", 0, burst, 10020);
        row("wrong keys while shut out do not extend it", "192.0.2.1", "192.0.2.1", 0,
            burst + QList<qint64>{5000, 6000, 9000}, 10020);
        row("a second window", "192.0.2.1", "::ffff:192.0.2.1", 9999, burst + times(10020, 1), 10041);
    }
    void attempts()
    {
        QFETCH(QList<qint64>, failures);
        QFETCH(QString, guesser);
        QFETCH(QString, asking);
        QFETCH(qint64, askedAt);
        QFETCH(qint64, blockedFor);
        qint64 now = 0;
        KeyAttempts attempts([&now] { return now; });
        for (const qint64 at : failures) {
            now = at;
            attempts.recordFailure(QHostAddress(guesser));
        }
        now = askedAt;
        QCOMPARE(attempts.blockedFor(QHostAddress(asking)), blockedFor);
        // The connection threads are shared out by the same clients.
        if (attempts.blockedFor(QHostAddress(guesser)) > 0)
            QCOMPARE(ClientAddress::of(QHostAddress(guesser)) == ClientAddress::of(QHostAddress(asking)),
                     blockedFor > 0);
    }

    // The real program: its settings file becomes its user's only, and no key reaches its log.
    void programFiles()
    {
        ProgramRunner program;
        const QByteArray key = "Zq8Xw2Lpv4.0";
        program.configure({{"securityKey", QString(key)}, {"licenseAccepted", true}});
        QVERIFY(QFile::setPermissions(program.settingsFile(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        // Without DebugModeOn every debug line goes to the standard error stream.
        program.process().setProcessChannelMode(QProcess::MergedChannels);
        program.start();
        QTRY_COMPARE_WITH_TIMEOUT(program.keyedGet("/getStatus").status, 200, 20000);
        for (const QByteArray& request :
             {HttpTestClient::get("/getStatus?securityKey=" + key),
              HttpTestClient::get("/getStatus", "Authorization: Bearer " + key.left(11) + "x\r\n"),
              Rig::post("/getStatus", "application/json", "{\"securityKey\": \"" + key + "\"}"),
              Rig::post("/sendJob", "application/x-www-form-urlencoded", "securityKey=" + key + "&job=")})
            QVERIFY(program.ask(request).complete);
        QVERIFY2(program.stop(), "no clean exit on SIGTERM");
        const QByteArray log = program.process().readAll();
        QVERIFY2(log.contains("HttpListener: Listening"), log.constData());
        QVERIFY2(!log.contains(key) && !log.contains(key.left(11)), log.constData());
        QCOMPARE(QFileInfo(program.settingsFile()).permissions() &
                     ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
                 QFile::Permissions());
    }

    // No usable certificate: the real program listens on nothing, plain HTTP included, and says why.
    void noCertificateNoServer()
    {
        ProgramRunner program;
        QVERIFY(QDir().mkpath(QFileInfo(program.settingsFile()).absolutePath() + "/QuorvaLink.key"));
        program.configure({{"licenseAccepted", true}});
        program.process().setProcessChannelMode(QProcess::MergedChannels);
        program.start({"--headless"});
        QByteArray log;
        QTRY_VERIFY_WITH_TIMEOUT(
            (log += program.process().readAll()).contains("Not serving: no usable TLS certificate"), 20000);
        QTcpSocket plain;
        plain.connectToHost(QHostAddress::LocalHost, program.port());
        QVERIFY2(!plain.waitForConnected(2000), "something listens on the program's port");
        QVERIFY2(program.stop(), "no clean exit on SIGTERM");
    }

    // The program's request limit: above it 413, below it read through despite the bounded read buffer.
    void oversized_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer");
        const QByteArray auth = "Authorization: Bearer " + m_server.keyBytes() + "\r\n";
        QTest::newRow("body") << Rig::post("/sendJob", "text/plain", QByteArray(5 << 20, 'a'), auth)
                              << QByteArray("HTTP/1.1 413");
        QTest::newRow("3 MiB within the limit")
            << Rig::post("/getStatus", "application/json", "{\"a\": \"" + QByteArray(3 << 20, 'a') + "\"}",
                         auth + "Connection: close\r\n")
            << QByteArray("HTTP/1.1 200");
    }
    void oversized()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        // The server lives on this thread: write from another and keep the event loop running.
        QByteArray got;
        std::unique_ptr<QThread> writer(QThread::create([this, &request, &got]() {
            HttpTestClient client(true);
            if (client.connectTo(m_server.port()) && client.socket().write(request) == request.size())
                got = client.readUntilClosed(60000);
        }));
        writer->start();
        QTRY_VERIFY_WITH_TIMEOUT(writer->isFinished(), 90000);
        QVERIFY2(got.startsWith(answer), got.left(200).constData());
        QCOMPARE(client().get("/getStatus", m_server.bearer()).json().value("status").toBool(), true);
    }
};

QLK_TEST_MAIN_CORE(TestSecurity)
#include "tst_security.moc"

// Hostile callers of the API: wrong keys on every path and the address shut out for them, foreign
// origins, oversized requests; unguessable keys; the real program's settings and log keep its key.
#include "ReliabilityRig.h"
#include "support/ApiServer.h"
#include "support/HttpTestRig.h"
#include "support/ProgramRunner.h"
#include "support/TestMain.h"

#include "api/KeyAttempts.h"
#include "core/PrintClient.h"
#include "http/ClientAddress.h"

#include <QUrl>

namespace {
QStringList lines; // logOf's
QStringList logOf(const std::function<void()>& work)
{
    lines.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) { lines << text; });
    work();
    qInstallMessageHandler(previous);
    return lines;
}
QByteArray refusal(const char* error)
{
    return PrintClientRequestHandler::serialise({{"status", false}, {"error", QString(error)}});
}
} // namespace

class TestSecurity : public QObject
{
    Q_OBJECT
    std::unique_ptr<ApiServer> m_server;
    ApiClient client() const { return m_server->client(); }

private slots:
    void initTestCase()
    {
        m_server = std::make_unique<ApiServer>();
        QVERIFY2(m_server->isValid(), qPrintable(m_server->errorString()));
    }
    void cleanupTestCase() { m_server.reset(); }

    // Chi-square of 80,000 characters over 62 symbols (61 degrees of freedom): above 140 by chance once in
    // 10^7 runs; modulo bias or a missing letter lands far above.
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
        QTest::addColumn<QByteArray>("scheme"); // null: the key goes as a parameter
        QTest::addColumn<QByteArray>("key");
        const QByteArray key = ApiServer::defaultKey().toUtf8();
        const QByteArray wrong[] = {QByteArray(), "", key.left(11), key + "x", key.toLower(), "aGVsbG8v4.0"};
        const char* names[] = {"missing", "empty", "prefix", "longer", "other case", "old style"};
        for (int i = 0; i < 6; ++i) {
            QTest::addRow("bearer %s", names[i]) << QByteArray("Bearer ") << wrong[i];
            QTest::addRow("parameter %s", names[i]) << QByteArray() << wrong[i];
        }
        QTest::addRow("bearer without space") << QByteArray("Bearer") << key;
        QTest::addRow("basic scheme") << QByteArray("Basic ") << key;
    }
    // Every route, with and without a trailing slash, unknown ones, by GET and POST.
    void keyRefused()
    {
        QFETCH(QByteArray, scheme);
        QFETCH(QByteArray, key);
        const bool header = !scheme.isNull() && !key.isNull();
        const QByteArray query = scheme.isNull() && !key.isNull() ? "?securityKey=" + QUrl::toPercentEncoding(key) : "";
        for (const QByteArray& route :
             QByteArray("/getPrinters /getPrinterStatus /sendJob /setNotificationOrder /getStatus /getTpas "
                        "/getTpaStatus /getTpaTransactionStatus /clearTpaTransactionStatus /sendTpaOpen /sendTpaClose "
                        "/sendTpaPurchase /sendTpaRefund /sendTpaOpenMenu /sendTpaReprintLastReceipt /unknown "
                        "/getStatus/x /favicon.ico")
                 .split(' '))
            for (const QByteArray& path : {route, route + '/'})
                for (const QByteArray& method : {QByteArray("GET"), QByteArray("POST")}) {
                    m_server->forgetWrongKeys();
                    const ApiReply reply = client().request(
                        method, path + query, header ? ApiHeaders{{"Authorization", scheme + key}} : ApiHeaders());
                    QVERIFY2(reply.status == 401 && reply.json().value("error") == "Invalid security key",
                             qPrintable(method + ' ' + path + query));
                }
        // The right key still opens it, and "/" and the preflight need none.
        QCOMPARE(client().get("/getStatus", m_server->bearer()).status, 200);
        QCOMPARE(client().get("/").status, 200);
        QCOMPARE(client().request("OPTIONS", "/sendJob").status, 200);
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
        row("subdomain", "https://app.quorva.pt", true);
        row("deep subdomain with port", "https://a.b.quorvapos.com:8443", true);
        row("localhost", "http://localhost", true);
        row("localhost with port", "http://localhost:3000", true);
        row("empty", "", false);
        row("loopback address", "http://127.0.0.1:3000", false);
        row("suffix without dot", "https://evilquorva.pt", false);
        row("domain as a label", "https://quorva.pt.evil.example", false);
        row("localhost as a label", "http://localhost.evil.example", false);
        row("localhost prefix", "http://localhostevil", false);
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
    // Refused before the key or the endpoint: with the right key, on the status page and
    // in its preflight, and without CORS headers.
    void origin()
    {
        QFETCH(QByteArray, origin);
        QFETCH(bool, allowed);
        QFETCH(QByteArray, fetchSite);
        ApiHeaders headers = origin.isNull() ? ApiHeaders() : ApiHeaders{{"Origin", origin}};
        if (!fetchSite.isNull())
            headers.append({"Sec-Fetch-Site", fetchSite});
        const int before = m_server->printClient().notifications().size();
        const ApiReply post = client().postJson(
            "/setNotificationOrder",
            QByteArray(R"({"request_id": 1, "terminal_id": 1, "status_id": 1, "title": "t", "subtitle": "s"})"),
            m_server->bearer() + headers);
        const ApiReply page = client().get("/", headers);
        const ApiReply preflight =
            client().request("OPTIONS", "/sendJob",
                             headers + ApiHeaders{{"Access-Control-Request-Method", "POST"},
                                                  {"Access-Control-Request-Private-Network", "true"}});
        QCOMPARE(m_server->printClient().notifications().size(), before + (allowed ? 1 : 0));
        for (const ApiReply& reply : {post, page, preflight}) {
            QCOMPARE(reply.status, allowed ? 200 : 403);
            QCOMPARE(reply.header("Access-Control-Allow-Origin"), !allowed ? QByteArray()
                                                                  : origin.isNull()
                                                                      ? QByteArray("https://app.quorva.pt")
                                                                      : origin);
            QCOMPARE(reply.header("Vary"), QByteArray("Origin"));
        }
        QCOMPARE(preflight.headers.contains("access-control-allow-methods"), allowed);
        QCOMPARE(preflight.headers.contains("access-control-allow-private-network"), allowed);
        if (!allowed) {
            QCOMPARE(post.body, refusal("Origin not allowed"));
            QCOMPARE(page.json().value("error").toString(), QStringLiteral("Origin not allowed"));
        }
    }

    void tooManyAttempts_data()
    {
        QTest::addColumn<int>("wrongKeys");
        QTest::addColumn<QByteArray>("source"); // "one address", "rotating" loopback addresses, "foreign page"
        QTest::addColumn<bool>("shutOut");
        QTest::newRow("20 wrong keys") << 20 << QByteArray("one address") << false;
        QTest::newRow("21 wrong keys") << 21 << QByteArray("one address") << true;
        QTest::newRow("21 from 21 loopback addresses") << 21 << QByteArray("rotating") << true;
        QTest::newRow("25 from a foreign page, refused before the key") << 25 << QByteArray("foreign page") << false;
    }
    // Over TLS: past 20 wrong keys in 10 s this computer gets 429 on every keyed path, the right key included,
    // from any of its addresses, bodies unparsed; "/" and the preflight not.
    void tooManyAttempts()
    {
        QFETCH(int, wrongKeys);
        QFETCH(QByteArray, source);
        QFETCH(bool, shutOut);
        m_server->forgetWrongKeys();
        const bool foreign = source == "foreign page";
        static int next = 0;
        for (int i = 0; i < wrongKeys; ++i, ++next) {
            const QHostAddress from(QStringLiteral("127.0.%1.%2").arg(1 + next / 250).arg(1 + next % 250));
            const ApiReply reply = ApiClient(m_server->port(), source == "rotating" ? from : QHostAddress())
                                       .get("/getStatus?securityKey=guess" + QByteArray::number(i),
                                            foreign ? ApiHeaders{{"Sec-Fetch-Site", "cross-site"}} : ApiHeaders());
            QCOMPARE(reply.status, foreign ? 403 : 401);
        }
        const ApiClient guesser(m_server->port(), QHostAddress("127.0.0.2"));
        for (const QByteArray& path : {QByteArray("/getStatus"), QByteArray("/sendJob"), QByteArray("/nowhere")}) {
            const ApiReply reply = guesser.get(path, m_server->bearer());
            QCOMPARE(reply.status, shutOut ? 429 : path == "/nowhere" ? 404 : 200);
            if (shutOut) {
                QCOMPARE(reply.body, refusal("Too many attempts"));
                QVERIFY(reply.header("Retry-After").toInt() > 0 && reply.header("Retry-After").toInt() <= 10);
                QCOMPARE(reply.header("Access-Control-Expose-Headers"), QByteArray("Retry-After"));
            }
        }
        const ApiReply malformed = guesser.postJson("/getStatus", QByteArray("{\"securityKey\": "));
        QCOMPARE(malformed.status, shutOut ? 429 : 200);
        QCOMPARE(malformed.json().value("error").toString(), QString(shutOut ? "Too many attempts" : "Invalid Json"));
        QCOMPARE(guesser.get("/").status, 200);
        QCOMPARE(guesser.request("OPTIONS", "/getStatus").status, 200);
        if (shutOut && source == "one address") // the window ends 10 s after it began
            QTRY_COMPARE_WITH_TIMEOUT(guesser.get("/getStatus", m_server->bearer()).status, 200, 15000);
    }

    // The window in time and who counts as one client: this computer on any loopback address, an IPv4 address, a /64.
    void attempts_data()
    {
        QTest::addColumn<QList<qint64>>("failures"); // times in ms of the guesser's wrong keys
        QTest::addColumn<QString>("guesser");
        QTest::addColumn<QString>("asking");
        QTest::addColumn<qint64>("askedAt");
        QTest::addColumn<qint64>("blockedFor");
        QTest::addColumn<int>("logLines");
        QTest::addColumn<QString>("logged"); // the client as the log names it
        QList<qint64> burst, spread, twoBursts;
        for (qint64 t = 0; t < 21; ++t) {
            burst << t;
            spread << t * 500; // the first has left the window when the 21st comes
        }
        twoBursts = burst;
        for (qint64 t : burst)
            twoBursts << 10020 + t;
        const auto row = [&](const char* name, const QString& guesser, const QString& asking, qint64 blockedFor,
                             const QString& logged, const QList<qint64>& failures = {}, qint64 askedAt = 21,
                             int logLines = 1) {
            QTest::newRow(name) << (failures.isEmpty() ? burst : failures) << guesser << asking << askedAt << blockedFor
                                << logLines << logged;
        };
        const QString loopback = QStringLiteral("this computer (loopback)"), v6 = QStringLiteral("2001:db8:0:1::/64");
        row("127/8", "127.0.0.1", "127.0.5.9", 9999, loopback);
        row("IPv6 loopback", "127.0.0.1", "::1", 9999, loopback);
        row("mapped loopback", "::1", "::ffff:127.0.0.2", 9999, loopback);
        row("loopback is not the network", "127.0.0.1", "192.0.2.1", 0, loopback);
        row("same /64", "2001:db8:0:1::1", "2001:db8:0:1:ffff:1:2:3", 9999, v6);
        row("next /64", "2001:db8:0:1::1", "2001:db8:0:2::1", 0, v6);
        row("IPv4 neighbour", "192.0.2.1", "192.0.2.2", 0, "192.0.2.1");
        row("21 in 20 ms", "192.0.2.1", "192.0.2.1", 9999, "192.0.2.1");
        row("mapped IPv4", "192.0.2.1", "::ffff:192.0.2.1", 9999, "192.0.2.1");
        row("20 in the window", "192.0.2.1", "192.0.2.1", 0, "", burst.mid(1), 21, 0);
        row("21 over 10 s", "192.0.2.1", "192.0.2.1", 0, "", spread, 10001, 0);
        row("window over", "192.0.2.1", "192.0.2.1", 0, "192.0.2.1", burst, 10020);
        row("wrong keys while shut out do not extend it", "192.0.2.1", "192.0.2.1", 0, "192.0.2.1",
            burst + QList<qint64>{5000, 6000, 9000}, 10020);
        row("a second window, logged again", "192.0.2.1", "::ffff:192.0.2.1", 9999, "192.0.2.1", twoBursts, 10041, 2);
    }
    void attempts()
    {
        QFETCH(QList<qint64>, failures);
        QFETCH(QString, guesser);
        QFETCH(QString, asking);
        QFETCH(qint64, askedAt);
        QFETCH(qint64, blockedFor);
        QFETCH(QString, logged);
        qint64 now = 0;
        KeyAttempts attempts([&now] { return now; });
        const QStringList log = logOf([&] {
            for (const qint64 at : failures) {
                now = at;
                attempts.recordFailure(QHostAddress(guesser));
            }
        });
        now = askedAt;
        QCOMPARE(attempts.blockedFor(QHostAddress(asking)), blockedFor);
        QTEST(log.size(), "logLines");
        for (const QString& line : log)
            QVERIFY2(line.contains(" wrong keys from " + logged + " within"), qPrintable(line));
        // The connection threads are shared out by the same clients.
        if (attempts.blockedFor(QHostAddress(guesser)) > 0)
            QCOMPARE(ClientAddress::of(QHostAddress(guesser)) == ClientAddress::of(QHostAddress(asking)),
                     blockedFor > 0);
    }

    // The real program: the settings file becomes its user's only, also when it existed with
    // wider modes (the TLS key's are tst_installationcertificate's), and no key reaches its log.
    void programFiles()
    {
        QTemporaryDir config;
        ProgramRunner program(config.path());
        const QString folder = QFileInfo(program.settingsFile()).absolutePath();
        const QByteArray key = QByteArray("Zq8Xw2Lp") + "v4.0";
        QVERIFY(QDir().mkpath(folder));
        {
            QSettings settings(program.settingsFile(), QSettings::IniFormat);
            settings.setValue("securityKey", QString(key));
            settings.setValue("licenseAccepted", true);
        }
        QVERIFY(QFile::setPermissions(program.settingsFile(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        // Without DebugModeOn every debug line goes to the standard error stream.
        program.process().setProcessChannelMode(QProcess::MergedChannels);
        program.start();
        const auto ask = [&](const QByteArray& request) {
            HttpTestClient client(true, program.certificates());
            return client.connectTo(program.port()) && client.send(request) ? client.readResponse()
                                                                            : HttpTestResponse();
        };
        QTRY_COMPARE_WITH_TIMEOUT(
            ask(HttpTestClient::get("/getStatus", "Authorization: Bearer " + key + "\r\n")).status, 200, 20000);
        for (const QByteArray& request :
             {HttpTestClient::get("/getStatus?securityKey=" + key),
              HttpTestClient::get("/getStatus", "Authorization: Bearer " + key.left(11) + "x\r\n"),
              Rig::post("/getStatus", "application/json", "{\"securityKey\": \"" + key + "\"}"),
              Rig::post("/sendJob", "application/x-www-form-urlencoded", "securityKey=" + key + "&job=")})
            QVERIFY(ask(request).complete);
        QVERIFY2(program.stop(), "no clean exit on SIGTERM");
        const QByteArray log = program.process().readAll();
        QVERIFY2(log.contains("HttpListener: Listening"), log.constData());
        QVERIFY2(!log.contains(key) && !log.contains(key.left(11)), log.constData());
        QCOMPARE(QFileInfo(program.settingsFile()).permissions() &
                     ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
                 QFile::Permissions());
        QCOMPARE(QSettings(program.settingsFile(), QSettings::IniFormat).value("securityKey").toByteArray(), key);
    }

    // The real program whose certificate cannot be made (a folder where the key file should be) does not
    // listen at all, plain HTTP included, and says why.
    void noCertificateNoServer()
    {
        QTemporaryDir config;
        ProgramRunner program(config.path());
        const QString keyFile = QDir(QFileInfo(program.settingsFile()).absolutePath()).filePath("QuorvaLink.key");
        QVERIFY(QDir().mkpath(keyFile));
        QSettings(program.settingsFile(), QSettings::IniFormat).setValue("licenseAccepted", true);
        program.process().setProcessChannelMode(QProcess::MergedChannels);
        program.start({"--headless"});
        QByteArray log;
        QTRY_VERIFY_WITH_TIMEOUT((log += program.process().readAll()).contains("HttpListener: Not listening"), 20000);
        // What the service's journal shows names the cause, not the port.
        QTRY_VERIFY_WITH_TIMEOUT(
            (log += program.process().readAll()).contains("Not serving: no usable TLS certificate"), 5000);
        QTcpSocket plain;
        plain.connectToHost(QHostAddress::LocalHost, program.port());
        QVERIFY2(!plain.waitForConnected(2000), "something listens on the program's port");
        QVERIFY2(program.stop(), "no clean exit on SIGTERM");
        log += program.process().readAll();
        QVERIFY2(log.contains("ServerTls: no TLS certificate: cannot write") &&
                     log.contains("no usable TLS certificate: cannot read " + keyFile.toUtf8()) &&
                     !log.contains("Listening on port"),
                 log.constData());
    }

    // With the program's request limit: too large is refused, and a body larger than the bounded read
    // buffer but within the limit is read through.
    void oversized_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer");
        const QByteArray auth = "Authorization: Bearer " + m_server->keyBytes() + "\r\n";
        QTest::newRow("body") << Rig::post("/sendJob", "text/plain", QByteArray(5 << 20, 'a'), auth)
                              << QByteArray("HTTP/1.1 413");
        QTest::newRow("announced only") << "POST /sendJob HTTP/1.1\r\n" + auth +
                                               "Content-Length: 999999999999\r\n\r\nabc"
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
            if (client.connectTo(m_server->port()) && client.socket().write(request) == request.size())
                got = client.readUntilClosed(60000);
        }));
        writer->start();
        QTRY_VERIFY_WITH_TIMEOUT(writer->isFinished(), 90000);
        QVERIFY2(got.startsWith(answer), got.left(200).constData());
        QCOMPARE(client().get("/getStatus", m_server->bearer()).json().value("status").toBool(), true);
    }
};

QLK_TEST_MAIN_CORE(TestSecurity)
#include "tst_security.moc"

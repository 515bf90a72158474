// Hostile callers of the local API: keys that are guessed, missing or nearly
// right on every path, and the address that guesses shut out for a while;
// pages of other origins refused; requests too large to take. Also that new
// keys are unguessable in practice, and that the real program keeps its
// settings and TLS key to its user and its keys out of its log.

#include "support/ApiServer.h"
#include "support/HttpTestRig.h"
#include "support/ProgramRunner.h"
#include "support/TestMain.h"

#include "api/KeyAttempts.h"
#include "app/SafeJson.h"
#include "core/PrintClient.h"
#include "http/ClientAddress.h"

#include <QUrl>

namespace {

// Another address of this computer each time (all of 127.0.0.0/8 is loopback).
QHostAddress freshAddress()
{
    static int next = 0;
    ++next;
    return QHostAddress(QStringLiteral("127.0.%1.%2").arg(1 + next / 250).arg(1 + next % 250));
}

QStringList lines;
void collect(QtMsgType, const QMessageLogContext&, const QString& message)
{
    lines.append(message);
}

} // namespace

class TestSecurity : public QObject
{
    Q_OBJECT
    std::unique_ptr<ApiServer> m_server;

private slots:
    void initTestCase()
    {
        m_server = std::make_unique<ApiServer>();
        QVERIFY2(m_server->isValid(), qPrintable(m_server->errorString()));
    }
    void cleanupTestCase() { m_server.reset(); }

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
        QCOMPARE(keys.size(), 10000);
        QVERIFY(!frequency.contains('?'));
        // Chi-square of the 80000 characters over the 62 symbols (61 degrees of
        // freedom: mean 61, deviation 11). Above 140 happens by chance about once
        // in 10^7 runs; a skewed draw (modulo bias, a missing letter) lands far above.
        const double expected = 80000.0 / alphabet.size();
        double chiSquare = 0;
        for (const QChar c : alphabet)
            chiSquare += (frequency.value(c) - expected) * (frequency.value(c) - expected) / expected;
        qInfo("keys: %d distinct, chi-square %.1f over %d symbols", int(keys.size()), chiSquare, int(alphabet.size()));
        QVERIFY2(chiSquare < 140, qPrintable(QString::number(chiSquare)));
    }

    void keyRefused_data()
    {
        QTest::addColumn<QByteArray>("scheme"); // null: the key goes as a parameter
        QTest::addColumn<QByteArray>("key");
        const QByteArray key = ApiServer::defaultKey().toUtf8();
        const QList<QPair<const char*, QByteArray>> keys = {
            {"missing", QByteArray()},     {"empty", ""},
            {"prefix", key.left(11)},      {"longer", key + "x"},
            {"other case", key.toLower()}, {"old style", "aGVsbG8v4.0"}};
        for (const auto& k : keys) {
            QTest::addRow("bearer %s", k.first) << QByteArray("Bearer ") << k.second;
            QTest::addRow("parameter %s", k.first) << QByteArray() << k.second;
        }
        QTest::addRow("bearer without space") << QByteArray("Bearer") << key;
        QTest::addRow("basic scheme") << QByteArray("Basic ") << key;
    }

    // Every path of the route table, with and without a trailing slash, and
    // unknown ones, by GET and POST.
    void keyRefused()
    {
        QFETCH(QByteArray, scheme);
        QFETCH(QByteArray, key);
        for (const QByteArray& route :
             QByteArray("/getPrinters /getPrinterStatus /sendJob /setNotificationOrder /getStatus /getTpas "
                        "/getTpaStatus /getTpaTransactionStatus /clearTpaTransactionStatus /sendTpaOpen /sendTpaClose "
                        "/sendTpaPurchase /sendTpaRefund /sendTpaOpenMenu /sendTpaReprintLastReceipt /unknown "
                        "/getStatus/x /favicon.ico")
                 .split(' ')) {
            for (const QByteArray& path : {route, route + '/'}) {
                const bool header = !scheme.isNull() && !key.isNull();
                const QByteArray query =
                    scheme.isNull() && !key.isNull() ? "?securityKey=" + QUrl::toPercentEncoding(key) : "";
                for (const QByteArray& method : {QByteArray("GET"), QByteArray("POST")}) {
                    m_server->forgetWrongKeys();
                    const ApiReply reply = m_server->client().request(
                        method, path + query, header ? ApiHeaders{{"Authorization", scheme + key}} : ApiHeaders());
                    QVERIFY2(reply.status == 401, qPrintable(method + ' ' + path + query));
                    QCOMPARE(reply.json().value("error").toString(), QStringLiteral("Invalid security key"));
                }
            }
        }
        // The right key still opens it, and "/" and the preflight need none.
        QCOMPARE(m_server->client().get("/getStatus", m_server->bearer()).status, 200);
        QCOMPARE(m_server->client().get("/").status, 200);
        QCOMPARE(m_server->client().request("OPTIONS", "/sendJob").status, 200);
    }

    void origin_data()
    {
        QTest::addColumn<QByteArray>("origin"); // null: no Origin header
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<QByteArray>("fetchSite"); // Sec-Fetch-Site; null: none sent
        QTest::newRow("no origin (curl, native programs)") << QByteArray() << true << QByteArray();
        QTest::newRow("own domain") << QByteArray("https://quorva.pt") << true << QByteArray();
        QTest::newRow("subdomain") << QByteArray("https://app.quorva.pt") << true << QByteArray();
        QTest::newRow("deep subdomain with port")
            << QByteArray("https://a.b.quorvapos.com:8443") << true << QByteArray();
        QTest::newRow("localhost") << QByteArray("http://localhost") << true << QByteArray();
        QTest::newRow("localhost with port") << QByteArray("http://localhost:3000") << true << QByteArray();
        QTest::newRow("empty") << QByteArray("") << false << QByteArray();
        QTest::newRow("loopback address") << QByteArray("http://127.0.0.1:3000") << false << QByteArray();
        QTest::newRow("suffix without dot") << QByteArray("https://evilquorva.pt") << false << QByteArray();
        QTest::newRow("domain as a label") << QByteArray("https://quorva.pt.evil.example") << false << QByteArray();
        QTest::newRow("localhost as a label") << QByteArray("http://localhost.evil.example") << false << QByteArray();
        QTest::newRow("localhost prefix") << QByteArray("http://localhostevil") << false << QByteArray();
        QTest::newRow("userinfo") << QByteArray("https://quorva.pt@evil.example") << false << QByteArray();
        QTest::newRow("path") << QByteArray("https://evil.example/quorva.pt") << false << QByteArray();
        QTest::newRow("null") << QByteArray("null") << false << QByteArray();
        QTest::newRow("other scheme") << QByteArray("file://quorva.pt") << false << QByteArray();
        // Browsers send no Origin with the GET of an image, a script, a frame or a link.
        QTest::newRow("image or link of another site") << QByteArray() << false << QByteArray("cross-site");
        QTest::newRow("another port of this site") << QByteArray() << false << QByteArray("same-site");
        QTest::newRow("fetch-site empty") << QByteArray() << false << QByteArray("");
        QTest::newRow("address typed by the user") << QByteArray() << true << QByteArray("none");
        QTest::newRow("own page") << QByteArray() << true << QByteArray("same-origin");
        QTest::newRow("web app's fetch") << QByteArray("https://app.quorva.pt") << true << QByteArray("cross-site");
    }

    // A foreign page's request is refused before the key or the endpoint: with the
    // right key, on the status page and in its preflight, and it gets no CORS headers.
    void origin()
    {
        QFETCH(QByteArray, origin);
        QFETCH(bool, allowed);
        QFETCH(QByteArray, fetchSite);
        ApiHeaders headers = origin.isNull() ? ApiHeaders() : ApiHeaders{{"Origin", origin}};
        if (!fetchSite.isNull())
            headers.append({"Sec-Fetch-Site", fetchSite});
        const QByteArray allowOrigin = origin.isNull() ? QByteArray("https://app.quorva.pt") : origin;
        const int before = m_server->printClient().notifications().size();
        const QByteArray notification =
            R"({"request_id": 1, "terminal_id": 1, "status_id": 1, "title": "t", "subtitle": "s"})";
        const ApiReply post =
            m_server->client().postJson("/setNotificationOrder", notification, m_server->bearer() + headers);
        const ApiReply page = m_server->client().get("/", headers);
        const ApiReply preflight =
            m_server->client().request("OPTIONS", "/sendJob",
                                       headers + ApiHeaders{{"Access-Control-Request-Method", "POST"},
                                                            {"Access-Control-Request-Private-Network", "true"}});
        QCOMPARE(m_server->printClient().notifications().size(), before + (allowed ? 1 : 0));
        for (const ApiReply& reply : {post, page, preflight}) {
            QCOMPARE(reply.status, allowed ? 200 : 403);
            QCOMPARE(reply.header("Access-Control-Allow-Origin"), allowed ? allowOrigin : QByteArray());
            QCOMPARE(reply.header("Vary"), QByteArray("Origin"));
        }
        QCOMPARE(preflight.headers.contains("access-control-allow-methods"), allowed);
        QCOMPARE(preflight.headers.contains("access-control-allow-private-network"), allowed);
        if (!allowed) {
            QCOMPARE(post.body, PrintClientRequestHandler::serialise(
                                    {{"status", false}, {"error", QStringLiteral("Origin not allowed")}}));
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

    // Over TLS against the real handler: after more than 20 wrong keys within 10 s
    // this computer gets 429 on every keyed path, the right key included, from
    // any of its addresses, and its bodies are not even parsed; the status page
    // and the preflight are not affected.
    void tooManyAttempts()
    {
        QFETCH(int, wrongKeys);
        QFETCH(QByteArray, source);
        QFETCH(bool, shutOut);
        m_server->forgetWrongKeys();
        const bool foreign = source == "foreign page";
        for (int i = 0; i < wrongKeys; ++i) {
            const ApiClient guesser(m_server->port(), source == "rotating" ? freshAddress() : QHostAddress());
            const ApiReply reply = guesser.get("/getStatus?securityKey=guess" + QByteArray::number(i),
                                               foreign ? ApiHeaders{{"Sec-Fetch-Site", "cross-site"}} : ApiHeaders());
            QCOMPARE(reply.status, foreign ? 403 : 401);
        }
        const ApiClient guesser(m_server->port(), QHostAddress("127.0.0.2"));
        for (const QByteArray& path : {QByteArray("/getStatus"), QByteArray("/sendJob"), QByteArray("/nowhere")}) {
            const ApiReply reply = guesser.get(path, m_server->bearer());
            QCOMPARE(reply.status, shutOut ? 429 : path == "/nowhere" ? 404 : 200);
            if (shutOut) {
                QCOMPARE(reply.body, PrintClientRequestHandler::serialise(
                                         {{"status", false}, {"error", QStringLiteral("Too many attempts")}}));
                QVERIFY(reply.header("Retry-After").toInt() > 0 && reply.header("Retry-After").toInt() <= 10);
                QCOMPARE(reply.header("Access-Control-Expose-Headers"), QByteArray("Retry-After"));
            }
        }
        const ApiReply malformed = guesser.postJson("/getStatus", "{\"securityKey\": ");
        QCOMPARE(malformed.status, shutOut ? 429 : 200);
        QCOMPARE(malformed.json().value("error").toString(), QString(shutOut ? "Too many attempts" : "Invalid Json"));
        QCOMPARE(guesser.get("/").status, 200);
        QCOMPARE(guesser.request("OPTIONS", "/getStatus").status, 200);
        if (shutOut && source == "one address") // the window ends 10 s after it began
            QTRY_COMPARE_WITH_TIMEOUT(guesser.get("/getStatus", m_server->bearer()).status, 200, 15000);
    }

    // Who counts as one client: this computer on any loopback address, an IPv4
    // address, an IPv6 /64 (its host picks the rest of the address at will).
    void attemptClients_data()
    {
        QTest::addColumn<QString>("guesser");
        QTest::addColumn<QString>("asking");
        QTest::addColumn<bool>("same");
        QTest::addColumn<QString>("logged");
        const QString loopback = QStringLiteral("this computer (loopback)");
        QTest::newRow("127/8") << "127.0.0.1"
                               << "127.0.5.9" << true << loopback;
        QTest::newRow("IPv6 loopback") << "127.0.0.1"
                                       << "::1" << true << loopback;
        QTest::newRow("mapped loopback") << "::1"
                                         << "::ffff:127.0.0.2" << true << loopback;
        QTest::newRow("loopback is not the network") << "127.0.0.1"
                                                     << "192.0.2.1" << false << loopback;
        QTest::newRow("same /64") << "2001:db8:0:1::1"
                                  << "2001:db8:0:1:ffff:1:2:3" << true << "2001:db8:0:1::/64";
        QTest::newRow("next /64") << "2001:db8:0:1::1"
                                  << "2001:db8:0:2::1" << false << "2001:db8:0:1::/64";
        QTest::newRow("IPv4 neighbour") << "192.0.2.1"
                                        << "192.0.2.2" << false << "192.0.2.1";
    }
    void attemptClients()
    {
        QFETCH(QString, guesser);
        QFETCH(QString, asking);
        QFETCH(bool, same);
        QFETCH(QString, logged);
        KeyAttempts attempts([] { return qint64(1000); });
        lines.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collect);
        for (int i = 0; i <= KeyAttempts::maxFailures; ++i)
            attempts.recordFailure(QHostAddress(guesser));
        qInstallMessageHandler(previous);
        QVERIFY(attempts.blockedFor(QHostAddress(guesser)) > 0);
        QCOMPARE(attempts.blockedFor(QHostAddress(asking)) > 0, same);
        // The connection threads are shared out by the same clients.
        QCOMPARE(ClientAddress::of(QHostAddress(guesser)) == ClientAddress::of(QHostAddress(asking)), same);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(QStringLiteral(" from %1 within").arg(logged)), qPrintable(lines.first()));
    }

    void attemptWindow_data()
    {
        QTest::addColumn<QList<qint64>>("failures"); // times in ms of the wrong keys
        QTest::addColumn<qint64>("askedAt");
        QTest::addColumn<qint64>("blockedFor");
        QTest::addColumn<int>("logLines");
        QList<qint64> burst, spread, twoBursts;
        for (qint64 t = 0; t < 21; ++t) {
            burst.append(t);
            spread.append(t * 500); // the first has left the window when the 21st comes
            twoBursts.append(t);
        }
        for (qint64 t = 0; t < 21; ++t)
            twoBursts.append(10020 + t);
        QTest::newRow("21 in 20 ms") << burst << qint64(21) << qint64(9999) << 1;
        QTest::newRow("20 in the window") << burst.mid(1) << qint64(21) << qint64(0) << 0;
        QTest::newRow("21 over 10 s") << spread << qint64(10001) << qint64(0) << 0;
        QTest::newRow("window over") << burst << qint64(10020) << qint64(0) << 1;
        QTest::newRow("wrong keys while shut out do not extend it")
            << burst + QList<qint64>{5000, 6000, 9000} << qint64(10020) << qint64(0) << 1;
        QTest::newRow("a second window, logged again") << twoBursts << qint64(10041) << qint64(9999) << 2;
    }
    void attemptWindow()
    {
        QFETCH(QList<qint64>, failures);
        QFETCH(qint64, askedAt);
        QFETCH(qint64, blockedFor);
        QFETCH(int, logLines);
        qint64 now = 0;
        KeyAttempts attempts([&now] { return now; });
        const QHostAddress guesser("192.0.2.1");
        lines.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collect);
        for (const qint64 at : failures) {
            now = at;
            attempts.recordFailure(guesser);
        }
        qInstallMessageHandler(previous);
        now = askedAt;
        QCOMPARE(attempts.blockedFor(guesser), blockedFor);
        // The same client over IPv4-mapped IPv6, and someone else.
        QCOMPARE(attempts.blockedFor(QHostAddress("::ffff:192.0.2.1")), blockedFor);
        QCOMPARE(attempts.blockedFor(QHostAddress("192.0.2.2")), qint64(0));
        QCOMPARE(lines.size(), logLines);
        for (const QString& line : lines)
            QVERIFY2(line.contains("192.0.2.1") && line.contains("wrong keys"), qPrintable(line));
    }

    // The real program: the settings file and the TLS key become this user's only,
    // also when they existed with wider modes, and no key reaches its log.
    void programFiles()
    {
        QTemporaryDir config;
        ProgramRunner program(config.path());
        const QString folder = QFileInfo(program.settingsFile()).absolutePath();
        const QString key = QStringLiteral("Zq8Xw2Lp") + QStringLiteral("v4.0");
        QVERIFY(QDir().mkpath(folder));
        {
            QSettings settings(program.settingsFile(), QSettings::IniFormat);
            settings.setValue("securityKey", key);
            settings.setValue("licenseAccepted", true);
        }
        const QFile::Permissions wide = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
        QVERIFY(QFile::setPermissions(folder, wide | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther));
        QVERIFY(QFile::setPermissions(program.settingsFile(), wide));

        // Without DebugModeOn every debug line goes to the standard error stream.
        program.process().setProcessChannelMode(QProcess::MergedChannels);
        program.start();
        const auto ask = [&](const QByteArray& request) {
            HttpTestClient client(true, program.certificates());
            return client.connectTo(program.port()) && client.send(request) ? client.readResponse()
                                                                            : HttpTestResponse();
        };
        const QByteArray k = key.toUtf8();
        QTRY_COMPARE_WITH_TIMEOUT(ask(HttpTestClient::get("/getStatus", "Authorization: Bearer " + k + "\r\n")).status,
                                  200, 20000);
        const auto post = [](const QByteArray& path, const QByteArray& type, const QByteArray& body) {
            return "POST " + path + " HTTP/1.1\r\nContent-Type: " + type +
                   "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        };
        for (const QByteArray& request :
             {HttpTestClient::get("/getStatus?securityKey=" + k),
              HttpTestClient::get("/getStatus", "Authorization: Bearer " + k.left(11) + "x\r\n"),
              post("/getStatus", "application/json", "{\"securityKey\": \"" + k + "\"}"),
              post("/sendJob", "application/x-www-form-urlencoded", "securityKey=" + k + "&job=")})
            QVERIFY(ask(request).complete);
        QVERIFY2(program.stop(), "no clean exit on SIGTERM");
        const QByteArray log = program.process().readAll();
        QVERIFY2(log.contains("HttpListener: Listening"), log.constData());
        QVERIFY2(!log.contains(k) && !log.contains(k.left(11)), log.constData());

        const QFile::Permissions others = ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser |
                                            QFile::WriteUser | QFile::ExeUser);
        QCOMPARE(QFileInfo(folder).permissions() & others, QFile::Permissions());
        for (const QString& file : {program.settingsFile(), QDir(folder).filePath("QuorvaLink.key")}) {
            QVERIFY2(QFileInfo::exists(file), qPrintable(file));
            QCOMPARE(QFileInfo(file).permissions() & others, QFile::Permissions());
        }
        QCOMPARE(QSettings(program.settingsFile(), QSettings::IniFormat).value("securityKey").toString(), key);
    }

    // The real program whose certificate cannot be made (a folder where the key
    // file should be) does not listen at all, plain HTTP included, and says why.
    void noCertificateNoServer()
    {
        QTemporaryDir config;
        ProgramRunner program(config.path());
        const QString folder = QFileInfo(program.settingsFile()).absolutePath();
        QVERIFY(QDir().mkpath(QDir(folder).filePath("QuorvaLink.key")));
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
                     log.contains("no usable TLS certificate: cannot read " +
                                  QDir(folder).filePath("QuorvaLink.key").toUtf8()) &&
                     !log.contains("Listening on port"),
                 log.constData());
    }

    void oversized_data()
    {
        QTest::addColumn<QByteArray>("request");
        const QByteArray head =
            "POST /sendJob HTTP/1.1\r\nAuthorization: Bearer " + m_server->keyBytes() + "\r\nContent-Length: ";
        const int size = 5 * 1024 * 1024;
        QTest::newRow("body") << head + QByteArray::number(size) + "\r\n\r\n" + QByteArray(size, 'a');
        QTest::newRow("announced only") << head + "999999999999\r\n\r\nabc";
        QByteArray headers;
        for (int i = 0; headers.size() < size; ++i)
            headers += "X-Filler-" + QByteArray::number(i) + ": " + QByteArray(1000, 'h') + "\r\n";
        QTest::newRow("headers") << "GET /getStatus HTTP/1.1\r\n" + headers + "\r\n";
        QTest::newRow("request line") << "GET /" + QByteArray(size, 'p') + " HTTP/1.1\r\n\r\n";
    }

    void oversized()
    {
        QFETCH(QByteArray, request);
        // A blocking client on this thread would stall the server that lives here:
        // write from a helper thread and let this one run the event loop.
        QByteArray answer;
        std::unique_ptr<QThread> writer(QThread::create([this, &request, &answer]() {
            HttpTestClient client(true);
            if (client.connectTo(m_server->port()) && client.socket().write(request) == request.size())
                answer = client.readUntilClosed(60000);
        }));
        writer->start();
        QTRY_VERIFY_WITH_TIMEOUT(writer->isFinished(), 90000);
        QVERIFY2(answer.startsWith("HTTP/1.1 413"), answer.left(200).constData());
        // The server goes on serving.
        QCOMPARE(m_server->client().get("/getStatus", m_server->bearer()).json().value("status").toBool(), true);
    }

    // Qt's parser leaks the earlier value of a repeated key: such request
    // bodies are malformed JSON, before any key check.
    void repeatedKeys_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("repeated");
        QTest::newRow("in sibling objects") << QByteArray("[{\"a\": 1}, {\"a\": 2}]") << false;
        QTest::newRow("in a string") << QByteArray("{\"a\": \"\\\"a\\\": 1, \\\"a\\\": 2\"}") << false;
        QTest::newRow("nested") << QByteArray("{\"job\": [{\"data\": [1], \"data\": \"x\"}]}") << true;
        QTest::newRow("escaped spelling") << QByteArray("{\"a\": [1], \"\\u0061\": 2}") << true;
        QTest::newRow("after a nested object")
            << QByteArray("{\"a\": {\"a\": 1, \"b\": 2}, \"c\": 1, \"a\": 3}") << true;
        // The parser takes the keys before it meets the end.
        QTest::newRow("object left open") << QByteArray("{\"a\": [1], \"a\": 2") << true;
        QTest::newRow("string left open") << QByteArray("{\"a\": [1], \"a\": 2, \"b\": \"x") << true;
    }

    void repeatedKeys()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, repeated);
        QJsonParseError error;
        QCOMPARE(SafeJson::parse(json, &error).isNull(), repeated);
        QCOMPARE(error.error != QJsonParseError::NoError, repeated);
        const ApiReply reply = m_server->client().postJson("/getStatus", json, m_server->bearer());
        QCOMPARE(reply.json().value("error").toString(), repeated ? QStringLiteral("Invalid Json") : QString());
    }
};

QLK_TEST_MAIN_CORE(TestSecurity)
#include "tst_security.moc"

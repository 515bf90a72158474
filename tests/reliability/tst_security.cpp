// Hostile callers of the local API: keys that are guessed, missing or nearly
// right on every path; origins that only look like the web application's;
// requests too large to take. Also that new keys are unguessable in practice.

#include "support/ApiServer.h"
#include "support/HttpTestRig.h"
#include "support/TestMain.h"

#include "app/SafeJson.h"
#include "core/PrintClient.h"

#include <QSet>
#include <QUrl>

#include <cmath>

namespace {

const QList<QByteArray> Routes = {
    "/getPrinters",
    "/getPrinterStatus",
    "/sendJob",
    "/setNotificationOrder",
    "/getStatus",
    "/getTpas",
    "/getTpaStatus",
    "/getTpaTransactionStatus",
    "/clearTpaTransactionStatus",
    "/sendTpaOpen",
    "/sendTpaClose",
    "/sendTpaPurchase",
    "/sendTpaRefund",
    "/sendTpaOpenMenu",
    "/sendTpaReprintLastReceipt",
    "/unknown",
    "/getStatus/x",
    "/favicon.ico",
};

const QString Alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");

} // namespace

class TestSecurity : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void generatedKeys();
    void keyRefused_data();
    void keyRefused();
    void origin_data();
    void origin();
    void oversized_data();
    void oversized();
    void repeatedKeys_data();
    void repeatedKeys();

private:
    std::unique_ptr<ApiServer> m_server;
};

void TestSecurity::initTestCase()
{
    m_server = std::make_unique<ApiServer>();
    QVERIFY2(m_server->isValid(), qPrintable(m_server->errorString()));
}

void TestSecurity::cleanupTestCase()
{
    m_server.reset();
}

void TestSecurity::generatedKeys()
{
    constexpr int Count = 10000;
    QSet<QString> keys;
    QHash<QChar, int> frequency;
    for (int i = 0; i < Count; ++i) {
        const QString key = PrintClient::newSecurityKey();
        QCOMPARE(key.size(), 12);
        QVERIFY2(key.endsWith(QLatin1String("v4.0")), qPrintable(key));
        for (const QChar c : key.left(8)) {
            QVERIFY2(Alphabet.contains(c), qPrintable(key));
            ++frequency[c];
        }
        keys.insert(key);
    }
    QCOMPARE(keys.size(), Count);

    // Chi-square of the 80000 characters over the 62 symbols (61 degrees of
    // freedom: mean 61, deviation 11). Above 140 happens by chance about once
    // in 10^7 runs; a skewed draw (modulo bias, a missing letter) lands far above.
    const double expected = 8.0 * Count / Alphabet.size();
    double chiSquare = 0;
    for (const QChar c : Alphabet) {
        const double d = frequency.value(c) - expected;
        chiSquare += d * d / expected;
    }
    qInfo("keys: %d distinct, chi-square %.1f over %d symbols", int(keys.size()), chiSquare, int(Alphabet.size()));
    QVERIFY2(chiSquare < 140, qPrintable(QString::number(chiSquare)));
}

void TestSecurity::keyRefused_data()
{
    QTest::addColumn<QByteArray>("how");
    QTest::addColumn<QByteArray>("key");
    const QByteArray key = ApiServer::defaultKey().toUtf8();
    const QList<QPair<const char*, QByteArray>> keys = {
        {"missing", QByteArray()},     {"empty", ""},
        {"prefix", key.left(11)},      {"longer", key + "x"},
        {"other case", key.toLower()}, {"old style", "aGVsbG8v4.0"},
    };
    for (const auto& k : keys) {
        QTest::addRow("bearer %s", k.first) << QByteArray("bearer") << k.second;
        QTest::addRow("parameter %s", k.first) << QByteArray("parameter") << k.second;
    }
    QTest::addRow("bearer without space") << QByteArray("nospace") << key;
    QTest::addRow("basic scheme") << QByteArray("basic") << key;
}

void TestSecurity::keyRefused()
{
    QFETCH(QByteArray, how);
    QFETCH(QByteArray, key);
    for (const QByteArray& route : Routes) {
        for (const QByteArray& path : {route, route + '/'}) {
            ApiHeaders headers;
            QByteArray target = path;
            if (how == "bearer" && !key.isNull())
                headers.append({"Authorization", "Bearer " + key});
            else if (how == "nospace")
                headers.append({"Authorization", "Bearer" + key});
            else if (how == "basic")
                headers.append({"Authorization", "Basic " + key});
            else if (how == "parameter" && !key.isNull())
                target += "?securityKey=" + QUrl::toPercentEncoding(QString::fromUtf8(key));
            for (const QByteArray& method : {QByteArray("GET"), QByteArray("POST")}) {
                const ApiReply reply = m_server->client().request(method, target, headers);
                QVERIFY2(reply.status == 401,
                         qPrintable(method + ' ' + target + ": " + QByteArray::number(reply.status)));
                QCOMPARE(reply.json().value("error").toString(), QStringLiteral("Invalid security key"));
            }
        }
    }
    // The right key still opens it, and "/" and the preflight need none.
    QCOMPARE(m_server->client().get("/getStatus", m_server->bearer()).status, 200);
    QCOMPARE(m_server->client().get("/").status, 200);
    QCOMPARE(m_server->client().request("OPTIONS", "/sendJob").status, 200);
}

void TestSecurity::origin_data()
{
    QTest::addColumn<QByteArray>("origin");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("own domain") << QByteArray("https://quorva.pt") << true;
    QTest::newRow("subdomain") << QByteArray("https://app.quorva.pt") << true;
    QTest::newRow("deep subdomain with port") << QByteArray("https://a.b.quorvapos.com:8443") << true;
    QTest::newRow("localhost") << QByteArray("http://localhost") << true;
    QTest::newRow("localhost with port") << QByteArray("http://localhost:3000") << true;
    QTest::newRow("suffix without dot") << QByteArray("https://evilquorva.pt") << false;
    QTest::newRow("domain as a label") << QByteArray("https://quorva.pt.evil.example") << false;
    QTest::newRow("localhost as a label") << QByteArray("http://localhost.evil.example") << false;
    QTest::newRow("localhost prefix") << QByteArray("http://localhostevil") << false;
    QTest::newRow("userinfo") << QByteArray("https://quorva.pt@evil.example") << false;
    QTest::newRow("path") << QByteArray("https://evil.example/quorva.pt") << false;
    QTest::newRow("null") << QByteArray("null") << false;
    QTest::newRow("other scheme") << QByteArray("file://quorva.pt") << false;
}

void TestSecurity::origin()
{
    QFETCH(QByteArray, origin);
    QFETCH(bool, allowed);
    ApiHeaders headers = m_server->bearer();
    headers.append({"Origin", origin});
    const ApiReply reply = m_server->client().get("/getStatus", headers);
    QCOMPARE(reply.status, 200);
    const QByteArray allow = reply.header("Access-Control-Allow-Origin");
    if (allowed)
        QCOMPARE(allow, origin);
    else
        QCOMPARE(allow, QByteArray("https://app.quorva.pt"));
}

void TestSecurity::oversized_data()
{
    QTest::addColumn<QByteArray>("request");
    const QByteArray auth = "Authorization: Bearer " + ApiServer::defaultKey().toUtf8() + "\r\n";
    const QByteArray body(5 * 1024 * 1024, 'a');
    QTest::newRow("body") << QByteArray(
        "POST /sendJob HTTP/1.1\r\nHost: x\r\n" + auth +
        "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QTest::newRow("announced only") << QByteArray("POST /sendJob HTTP/1.1\r\nHost: x\r\n" + auth +
                                                  "Content-Length: 999999999999\r\n\r\nabc");
    QByteArray headers;
    for (int i = 0; headers.size() < 5 * 1024 * 1024; ++i)
        headers += "X-Filler-" + QByteArray::number(i) + ": " + QByteArray(1000, 'h') + "\r\n";
    QTest::newRow("headers") << QByteArray("GET /getStatus HTTP/1.1\r\nHost: x\r\n" + auth + headers + "\r\n");
    QTest::newRow("request line") << QByteArray("GET /" + QByteArray(5 * 1024 * 1024, 'p') + " HTTP/1.1\r\n\r\n");
}

void TestSecurity::oversized()
{
    QFETCH(QByteArray, request);
    // A blocking client on this thread would stall the server that lives here:
    // write from a helper thread and let this one run the event loop.
    QByteArray answer;
    QThread* writer = QThread::create([this, &request, &answer]() {
        HttpTestClient client(true);
        if (!client.connectTo(m_server->port()))
            return;
        client.socket().write(request);
        answer = client.readUntilClosed(60000);
    });
    writer->start();
    QTRY_VERIFY_WITH_TIMEOUT(writer->isFinished(), 90000);
    delete writer;
    QVERIFY2(answer.startsWith("HTTP/1.1 413"), answer.left(200).constData());

    // The server goes on serving.
    const ApiReply reply = m_server->client().get("/getStatus", m_server->bearer());
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.json().value("status").toBool(), true);
}

void TestSecurity::repeatedKeys_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("repeated");
    QTest::newRow("plain") << QByteArray(R"({"a": {"b": 1}, "b": [1, {"a": 2}]})") << false;
    QTest::newRow("same key in sibling objects") << QByteArray(R"([{"a": 1}, {"a": 2}])") << false;
    QTest::newRow("keys inside strings") << QByteArray(R"({"a": "{\"a\": 1, \"a\": 2}", "b": ",\"a\""})") << false;
    QTest::newRow("top level") << QByteArray(R"({"a": {"x": 1}, "a": 1})") << true;
    QTest::newRow("nested") << QByteArray(R"({"job": [{"op": "text", "data": [1], "data": "x"}]})") << true;
    QTest::newRow("escaped spelling") << QByteArray(R"({"a": [1], "\u0061": 2})") << true;
    QTest::newRow("after nested object") << QByteArray(R"({"a": {"a": 1, "b": 2}, "c": 1, "a": 3})") << true;
}

void TestSecurity::repeatedKeys()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, repeated);
    QJsonParseError error;
    const QJsonDocument document = SafeJson::parse(json, &error);
    QCOMPARE(document.isNull(), repeated);
    QCOMPARE(error.error != QJsonParseError::NoError, repeated);

    // Through the API such a body is malformed JSON, before any key check.
    const ApiReply reply = m_server->client().postJson("/getStatus", json, m_server->bearer());
    QCOMPARE(reply.json().value("error").toString(), repeated ? QStringLiteral("Invalid Json") : QString());
}

QLK_TEST_MAIN_CORE(TestSecurity)
#include "tst_security.moc"

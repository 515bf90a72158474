// The checks every request passes before an endpoint runs: CORS, the preflight,
// the status page, "Invalid Json", the security key in its three carriers, the
// route table and the envelope, end to end over HTTPS.
#include "support/ApiServer.h"
#include "support/TestMain.h"

#include "core/PrintClient.h"

#include <QJsonArray>
#include <QRegularExpression>

namespace {

const QList<QByteArray> routes = {
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
};

const QByteArray deviceOnlineBody = "{\n    \"data\": \"Device online\",\n    \"status\": true\n}\n";
const QByteArray invalidKeyBody = "{\n    \"error\": \"Invalid security key\",\n    \"status\": false\n}\n";
const QByteArray notFoundBody = "{\n    \"error\": \"Not found\",\n    \"status\": false\n}\n";
const QByteArray invalidJsonBody = "{\n    \"error\": \"Invalid Json\",\n    \"status\": false\n}\n";

} // namespace

class TestApiRouting : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void preflight_data();
    void preflight();
    void origin_data();
    void origin();
    void statusPage_data();
    void statusPage();
    void keyRequired_data();
    void keyRequired();
    void notFound_data();
    void notFound();
    void invalidJson_data();
    void invalidJson();
    void keyCarriers_data();
    void keyCarriers();
    void withNotifications_data();
    void withNotifications();
    void emptyConfiguredKey();

private:
    std::unique_ptr<ApiServer> m_server;
};

void TestApiRouting::initTestCase()
{
    m_server = std::make_unique<ApiServer>();
    QVERIFY2(m_server->isValid(), qPrintable(m_server->errorString()));
}

void TestApiRouting::cleanupTestCase()
{
    m_server.reset();
}

void TestApiRouting::preflight_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<ApiHeaders>("headers");
    QTest::addColumn<bool>("privateNetwork");

    QTest::newRow("route, no key") << QByteArray("/sendJob") << ApiHeaders{} << false;
    QTest::newRow("route with slash, key")
        << QByteArray("/getStatus/?securityKey=" + m_server->keyBytes()) << ApiHeaders{} << false;
    QTest::newRow("outside the routes") << QByteArray("/nowhere") << ApiHeaders{} << false;
    QTest::newRow("wrong key") << QByteArray("/getPrinters") << ApiHeaders{{"Authorization", "Bearer nope"}} << false;
    QTest::newRow("private network asked")
        << QByteArray("/getPrinters") << ApiHeaders{{"Access-Control-Request-Private-Network", "true"}} << true;
    QTest::newRow("private network not asked")
        << QByteArray("/getPrinters") << ApiHeaders{{"Access-Control-Request-Private-Network", "false"}} << false;
}

void TestApiRouting::preflight()
{
    QFETCH(QByteArray, target);
    QFETCH(ApiHeaders, headers);
    QFETCH(bool, privateNetwork);

    headers += ApiHeaders{{"Origin", "https://app.quorva.com"}};
    const ApiReply reply = m_server->client().request("OPTIONS", target, headers);
    QVERIFY2(reply.status, qPrintable(reply.error));
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.body, QByteArray());
    QCOMPARE(reply.header("Content-Length"), QByteArray("0"));
    QCOMPARE(reply.header("Access-Control-Allow-Origin"), QByteArray("https://app.quorva.com"));
    QCOMPARE(reply.header("Vary"), QByteArray("Origin"));
    QCOMPARE(reply.header("Content-Type"), QByteArray("application/json; charset=UTF-8"));
    QCOMPARE(reply.header("Access-Control-Allow-Methods"), QByteArray("POST, GET, OPTIONS"));
    QCOMPARE(reply.header("Access-Control-Allow-Headers"), QByteArray("authorization, Authorization, Content-Type"));
    QCOMPARE(reply.header("Access-Control-Max-Age"), QByteArray("86400"));
    const QByteArray date = reply.header("Date");
    QCOMPARE(date, date.toUpper());
    QVERIFY2(QRegularExpression(QStringLiteral("^\\S+, \\d\\d \\S+ \\d{4} \\d\\d:\\d\\d:\\d\\d UTC$"))
                 .match(QString::fromUtf8(date))
                 .hasMatch(),
             date.constData());
    QCOMPARE(reply.headers.contains("access-control-allow-private-network"), privateNetwork);
    if (privateNetwork)
        QCOMPARE(reply.header("Access-Control-Allow-Private-Network"), QByteArray("true"));
}

void TestApiRouting::origin_data()
{
    QTest::addColumn<QByteArray>("origin");
    QTest::addColumn<bool>("allowed");

    QTest::newRow("local dev server with port") << QByteArray("http://localhost:8080") << true;
    QTest::newRow("local dev server") << QByteArray("http://localhost") << true;
    QTest::newRow("web app") << QByteArray("https://app.quorva.pt") << true;
    QTest::newRow("bare domain") << QByteArray("https://quorva.pt") << true;
    QTest::newRow("deeper host with port") << QByteArray("https://a.b.quorvapos.com:8443") << true;
    QTest::newRow("each domain: com") << QByteArray("https://x.quorva.com") << true;
    QTest::newRow("each domain: es") << QByteArray("https://x.quorva.es") << true;
    QTest::newRow("each domain: app") << QByteArray("https://x.quorva.app") << true;
    QTest::newRow("no origin") << QByteArray() << false;
    QTest::newRow("suffix without a dot") << QByteArray("https://evilquorva.pt") << false;
    QTest::newRow("domain as a prefix") << QByteArray("https://quorva.pt.evil.example") << false;
    QTest::newRow("localhost as a prefix") << QByteArray("http://localhost.evil.example") << false;
    QTest::newRow("localhost with user") << QByteArray("http://localhost@evil.example") << false;
    QTest::newRow("localhost, port not a number") << QByteArray("http://localhost:80x") << false;
    QTest::newRow("domain in the path") << QByteArray("https://evil.example/quorva.pt") << false;
    QTest::newRow("other scheme") << QByteArray("file://quorva.pt") << false;
    QTest::newRow("opaque origin") << QByteArray("null") << false;
}

void TestApiRouting::origin()
{
    QFETCH(QByteArray, origin);
    QFETCH(bool, allowed);

    ApiHeaders headers;
    if (!origin.isEmpty())
        headers += ApiHeaders{{"Origin", origin}};
    const ApiReply reply = m_server->client().get("/getStatus?securityKey=" + m_server->keyBytes(), headers);
    QVERIFY2(reply.status, qPrintable(reply.error));
    // The origin only steers the browser: the request is carried out in any case.
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.body, deviceOnlineBody);
    QCOMPARE(reply.header("Access-Control-Allow-Origin"), allowed ? origin : QByteArray("https://app.quorva.pt"));
    QCOMPARE(reply.header("Vary"), QByteArray("Origin"));
}

void TestApiRouting::statusPage_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("GET") << QByteArray("GET") << QByteArray("/") << QByteArray() << QByteArray();
    QTest::newRow("wrong key") << QByteArray("GET") << QByteArray("/?securityKey=nope") << QByteArray() << QByteArray();
    QTest::newRow("OPTIONS") << QByteArray("OPTIONS") << QByteArray("/") << QByteArray() << QByteArray();
    QTest::newRow("broken JSON") << QByteArray("POST") << QByteArray("/") << QByteArray("application/json")
                                 << QByteArray("{oops");
}

void TestApiRouting::statusPage()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);

    ApiHeaders headers{{"Origin", "http://localhost:3000"}};
    if (!contentType.isEmpty())
        headers += ApiHeaders{{"Content-Type", contentType}};
    const ApiReply reply = m_server->client().request(method, target, headers, body);
    QVERIFY2(reply.status, qPrintable(reply.error));
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.header("Content-Type"), QByteArray("text/html; charset=UTF-8"));
    QCOMPARE(reply.header("Access-Control-Allow-Origin"), QByteArray("http://localhost:3000"));
    QCOMPARE(reply.header("Vary"), QByteArray("Origin"));
    QVERIFY(reply.body.startsWith("<html lang=\"pt\"><head><title>Quorva Link</title>"));
    QVERIFY(!reply.body.contains('\n'));
    QVERIFY(reply.body.contains("<h1>Quorva LINK</h1>"));
    QVERIFY(reply.body.contains(QStringLiteral("consulte <a href=\"https://ajuda.quorva.pt/artigos/"
                                               "configurar-impressoras-de-taloes\">a documentação <em>online</em></a>.")
                                    .toUtf8()));
    QVERIFY(!reply.headers.contains("access-control-allow-methods"));
}

void TestApiRouting::keyRequired_data()
{
    QTest::addColumn<QByteArray>("path");
    for (const QByteArray& route : routes) {
        QTest::newRow(route.constData()) << route;
        QTest::newRow((route + "/").constData()) << route + "/";
    }
    QTest::newRow("outside the routes") << QByteArray("/nowhere");
}

// Every path but "/" needs the key; with it every route and its slashed form is
// served (whatever the endpoint then answers), and only the outsider is 404.
void TestApiRouting::keyRequired()
{
    QFETCH(QByteArray, path);

    for (const QByteArray& method : {QByteArray("GET"), QByteArray("POST")}) {
        const ApiReply without = m_server->client().request(method, path);
        QVERIFY2(without.status, qPrintable(without.error));
        QCOMPARE(without.status, 401);
        QCOMPARE(without.reason, QByteArray("Unauthorized"));
        QCOMPARE(without.body, invalidKeyBody);
        QCOMPARE(without.header("Content-Type"), QByteArray("application/json; charset=UTF-8"));
    }

    const ApiReply wrong = m_server->client().get(path + "?securityKey=" + m_server->keyBytes().toLower());
    QCOMPARE(wrong.status, 401);

    const ApiReply with = m_server->client().request("PUT", path, m_server->bearer());
    QVERIFY2(with.status, qPrintable(with.error));
    if (path == "/nowhere") {
        QCOMPARE(with.status, 404);
        return;
    }
    QCOMPARE(with.status, 200);
    QVERIFY(with.json().contains(QStringLiteral("status")));
    QVERIFY(with.body != notFoundBody);
}

void TestApiRouting::notFound_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("other case") << QByteArray("/getprinters");
    QTest::newRow("two slashes") << QByteArray("/getPrinters//");
    QTest::newRow("field in the path") << QByteArray("/getPrinterStatus/EPSON");
    QTest::newRow("unknown") << QByteArray("/print");
    QTest::newRow("empty segment first") << QByteArray("//getStatus");
}

void TestApiRouting::notFound()
{
    QFETCH(QByteArray, path);
    const ApiReply reply = m_server->client().get(path, m_server->bearer());
    QVERIFY2(reply.status, qPrintable(reply.error));
    QCOMPARE(reply.status, 404);
    QCOMPARE(reply.reason, QByteArray("Not found"));
    QCOMPARE(reply.body, notFoundBody);
    QCOMPARE(reply.header("Content-Length"), QByteArray::number(notFoundBody.size()));
}

void TestApiRouting::invalidJson_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("route, no key") << QByteArray("POST") << QByteArray("/getStatus") << QByteArray("{oops");
    QTest::newRow("outside the routes") << QByteArray("POST") << QByteArray("/nowhere") << QByteArray("{oops");
    QTest::newRow("preflight") << QByteArray("OPTIONS") << QByteArray("/getStatus") << QByteArray("{oops");
    QTest::newRow("blank body") << QByteArray("POST") << QByteArray("/getStatus") << QByteArray(" ");
    QTest::newRow("trailing garbage") << QByteArray("POST") << QByteArray("/getStatus")
                                      << QByteArray("{\"securityKey\": \"x\"} x");
}

// A body announced as JSON that does not parse is answered before the preflight,
// the key and the route are looked at.
void TestApiRouting::invalidJson()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, body);

    const ApiReply reply = m_server->client().request(method, path, {{"Content-Type", "application/json"}}, body);
    QVERIFY2(reply.status, qPrintable(reply.error));
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.body, invalidJsonBody);
    QVERIFY(!reply.headers.contains("access-control-allow-methods"));
    QCOMPARE(reply.header("Vary"), QByteArray("Origin"));
}

void TestApiRouting::keyCarriers_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("authorization");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("accepted");

    const QByteArray k = m_server->keyBytes();
    const QByteArray json = "application/json";
    const QByteArray form = "application/x-www-form-urlencoded";

    QTest::newRow("query") << "?securityKey=" + k << QByteArray() << QByteArray() << QByteArray() << true;
    QTest::newRow("no key") << QByteArray() << QByteArray() << QByteArray() << QByteArray() << false;
    QTest::newRow("key in other case") << "?securityKey=" + k.toUpper() << QByteArray() << QByteArray() << QByteArray()
                                       << false;
    QTest::newRow("key with more after it")
        << "?securityKey=" + k + "x" << QByteArray() << QByteArray() << QByteArray() << false;
    QTest::newRow("text ends at NUL") << "?securityKey=" + k + "%00tail" << QByteArray() << QByteArray() << QByteArray()
                                      << true;
    QTest::newRow("form body") << QByteArray() << QByteArray() << form << "securityKey=" + k << true;
    QTest::newRow("bearer") << QByteArray() << "Bearer " + k << QByteArray() << QByteArray() << true;
    QTest::newRow("bearer beats the parameter")
        << QByteArray("?securityKey=nope") << "Bearer " + k << QByteArray() << QByteArray() << true;
    QTest::newRow("wrong bearer beats the parameter")
        << "?securityKey=" + k << QByteArray("Bearer nope") << QByteArray() << QByteArray() << false;
    QTest::newRow("two spaces: parameter used")
        << "?securityKey=" + k << "Bearer  " + k << QByteArray() << QByteArray() << true;
    QTest::newRow("two spaces alone") << QByteArray() << "Bearer  " + k << QByteArray() << QByteArray() << false;
    QTest::newRow("three pieces") << QByteArray() << "Bearer " + k + " x" << QByteArray() << QByteArray() << false;
    QTest::newRow("other word: parameter used")
        << "?securityKey=" + k << "Token " + k << QByteArray() << QByteArray() << true;
    QTest::newRow("other word alone") << QByteArray() << "Token " + k << QByteArray() << QByteArray() << false;
    QTest::newRow("lower-case bearer") << QByteArray() << "bearer " + k << QByteArray() << QByteArray() << false;
    QTest::newRow("json member") << QByteArray() << QByteArray() << json << "{\"securityKey\": \"" + k + "\"}" << true;
    QTest::newRow("json charset") << QByteArray() << QByteArray() << json + "; charset=utf-8"
                                  << "{\"securityKey\": \"" + k + "\"}" << true;
    QTest::newRow("json member not a string")
        << QByteArray() << QByteArray() << json << QByteArray("{\"securityKey\": 12}") << false;
    QTest::newRow("json mode ignores the query")
        << "?securityKey=" + k << QByteArray() << json << QByteArray("{}") << false;
    QTest::newRow("json array body") << QByteArray() << QByteArray() << json << "[{\"securityKey\": \"" + k + "\"}]"
                                     << false;
    QTest::newRow("json, empty body, bearer") << QByteArray() << "Bearer " + k << json << QByteArray() << true;
    QTest::newRow("json, bearer beats the member")
        << QByteArray() << "Bearer " + k << json << QByteArray("{\"securityKey\": \"nope\"}") << true;
    QTest::newRow("Application/JSON is parameter mode")
        << "?securityKey=" + k << QByteArray() << QByteArray("Application/JSON")
        << QByteArray("{\"securityKey\": \"nope\"}") << true;
    QTest::newRow("Application/JSON body is not read") << QByteArray() << QByteArray() << QByteArray("Application/JSON")
                                                       << "{\"securityKey\": \"" + k + "\"}" << false;
}

void TestApiRouting::keyCarriers()
{
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, authorization);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(bool, accepted);

    ApiHeaders headers;
    if (!authorization.isEmpty())
        headers += ApiHeaders{{"Authorization", authorization}};
    if (!contentType.isEmpty())
        headers += ApiHeaders{{"Content-Type", contentType}};
    const ApiReply reply = m_server->client().request("POST", "/getStatus" + query, headers, body);
    QVERIFY2(reply.status, qPrintable(reply.error));
    QCOMPARE(reply.status, accepted ? 200 : 401);
    QCOMPARE(reply.body, accepted ? deviceOnlineBody : invalidKeyBody);
}

void TestApiRouting::withNotifications_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("listed");

    const QByteArray json = "application/json";
    QTest::newRow("param 1") << QByteArray() << QByteArray("with_notifications=1") << true;
    QTest::newRow("param 7") << QByteArray() << QByteArray("with_notifications=7") << true;
    QTest::newRow("param 0") << QByteArray() << QByteArray("with_notifications=0") << false;
    QTest::newRow("param -1") << QByteArray() << QByteArray("with_notifications=-1") << false;
    QTest::newRow("param true") << QByteArray() << QByteArray("with_notifications=true") << false;
    QTest::newRow("param 1x") << QByteArray() << QByteArray("with_notifications=1x") << false;
    QTest::newRow("param absent") << QByteArray() << QByteArray() << false;
    QTest::newRow("json 1") << json << QByteArray("\"with_notifications\": 1") << true;
    QTest::newRow("json 2.0") << json << QByteArray("\"with_notifications\": 2.0") << true;
    QTest::newRow("json 0") << json << QByteArray("\"with_notifications\": 0") << false;
    QTest::newRow("json 1.5") << json << QByteArray("\"with_notifications\": 1.5") << false;
    QTest::newRow("json true") << json << QByteArray("\"with_notifications\": true") << false;
    QTest::newRow("json string") << json << QByteArray("\"with_notifications\": \"1\"") << false;
    QTest::newRow("json absent") << json << QByteArray() << false;
}

void TestApiRouting::withNotifications()
{
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, payload);
    QFETCH(bool, listed);

    ApiReply reply;
    if (contentType.isEmpty()) {
        reply = m_server->client().get("/getStatus?" + payload, m_server->bearer());
    } else {
        const QByteArray body = "{" + payload + "}";
        reply = m_server->client().postJson("/getStatus", body, m_server->bearer());
    }
    QVERIFY2(reply.status, qPrintable(reply.error));
    const QJsonObject answer = reply.json();
    QCOMPARE(answer.value(QStringLiteral("data")).toString(), QStringLiteral("Device online"));
    QCOMPARE(answer.contains(QStringLiteral("notifications")), listed);
    if (listed)
        QCOMPARE(answer.value(QStringLiteral("notifications")), QJsonValue(QJsonArray()));
    else
        QCOMPARE(reply.body, deviceOnlineBody);
}

// An empty configured key equals an absent key: the check passes without one.
void TestApiRouting::emptyConfiguredKey()
{
    m_server->printClient().setSecurityKey(QString());
    const ApiReply bare = m_server->client().get("/getStatus");
    const ApiReply keyed = m_server->client().get("/getStatus?securityKey=" + ApiServer::defaultKey().toUtf8());
    m_server->printClient().setSecurityKey(ApiServer::defaultKey());
    QCOMPARE(bare.status, 200);
    QCOMPARE(bare.body, deviceOnlineBody);
    QCOMPARE(keyed.status, 401);
}

QLK_TEST_MAIN_CORE(TestApiRouting)
#include "tst_apirouting.moc"

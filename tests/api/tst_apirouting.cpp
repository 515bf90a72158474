// The checks every request passes before an endpoint runs: CORS, the preflight,
// the status page, "Invalid Json", the security key in its three carriers and
// the route table, end to end over HTTPS. Each table is one concern; all run
// through the same request-and-compare step.
#include "support/ApiServer.h"
#include "support/TestMain.h"

#include "core/PrintClient.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

QByteArray envelope(const QByteArray& member, const QByteArray& text, bool ok)
{
    return "{\n    \"" + member + "\": \"" + text + "\",\n    \"status\": " + (ok ? "true" : "false") + "\n}\n";
}

const QByteArray deviceOnline = envelope("data", "Device online", true);
const QByteArray invalidKey = envelope("error", "Invalid security key", false);
const QByteArray invalidJsonBody = envelope("error", "Invalid Json", false);
const QByteArray json = "application/json";
const QByteArray none;

// A row: the request, then the status, the exact body (null: not compared) and
// headers the answer must carry (an empty value: must not carry).
void row(const char* name, const QByteArray& method, const QByteArray& target, const ApiHeaders& headers,
         const QByteArray& body, int status, const QByteArray& answer, const ApiHeaders& answerHeaders = {})
{
    QTest::newRow(name) << method << target << headers << body << status << answer << answerHeaders;
}

} // namespace

class TestApiRouting : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_server = std::make_unique<ApiServer>();
        QVERIFY2(m_server->isValid(), qPrintable(m_server->errorString()));
        m_key = m_server->keyBytes();
    }

    void cleanupTestCase() { m_server.reset(); }

    // The origin only steers the browser: the request is carried out in any case.
    void origin_data()
    {
        columns();
        const auto origin = [this](const char* name, const QByteArray& value, bool allowed) {
            row(name, "GET", "/getStatus?securityKey=" + m_key,
                value.isNull() ? ApiHeaders{} : ApiHeaders{{"Origin", value}}, none, 200, deviceOnline,
                {{"Access-Control-Allow-Origin", allowed ? value : "https://app.quorva.pt"}, {"Vary", "Origin"}});
        };
        origin("localhost with port", "http://localhost:8080", true);
        origin("localhost", "http://localhost", true);
        origin("bare domain", "https://quorva.pt", true);
        origin("deeper host with port", "https://a.b.quorvapos.com:8443", true);
        origin("com", "https://x.quorva.com", true);
        origin("es", "https://x.quorva.es", true);
        origin("app", "https://x.quorva.app", true);
        origin("no origin", none, false);
        origin("suffix without a dot", "https://evilquorva.pt", false);
        origin("domain as a prefix", "https://quorva.pt.evil.example", false);
        origin("localhost as a prefix", "http://localhost.evil.example", false);
        origin("localhost with user", "http://localhost@evil.example", false);
        origin("port not a number", "http://localhost:80x", false);
        origin("domain in the path", "https://evil.example/quorva.pt", false);
        origin("other scheme", "file://quorva.pt", false);
        origin("opaque origin", "null", false);
    }
    void origin() { compare(); }

    // Answered before the key and the route are looked at.
    void preflight_data()
    {
        columns();
        const auto preflight = [](const char* name, const QByteArray& target, const ApiHeaders& extra,
                                  const QByteArray& privateNetwork) {
            row(name, "OPTIONS", target, ApiHeaders{{"Origin", "https://app.quorva.com"}} + extra, none, 200, "",
                {{"Access-Control-Allow-Origin", "https://app.quorva.com"},
                 {"Access-Control-Allow-Methods", "POST, GET, OPTIONS"},
                 {"Access-Control-Allow-Headers", "authorization, Authorization, Content-Type"},
                 {"Access-Control-Max-Age", "86400"},
                 {"Access-Control-Allow-Private-Network", privateNetwork}});
        };
        preflight("route, no key", "/sendJob", {}, none);
        preflight("outside the routes", "/nowhere", {}, none);
        preflight("wrong key", "/getPrinters", {{"Authorization", "Bearer nope"}}, none);
        preflight("private network asked", "/getPrinters", {{"Access-Control-Request-Private-Network", "true"}},
                  "true");
        preflight("private network not asked", "/getPrinters", {{"Access-Control-Request-Private-Network", "false"}},
                  none);
    }
    void preflight() { compare(); }

    // "/" shows the page whatever the method, the key or a broken JSON body;
    // everything else needs the key, outsiders too; with it only outsiders are 404.
    void routes_data()
    {
        columns();
        const ApiHeaders page{{"Content-Type", "text/html; charset=UTF-8"}, {"Access-Control-Allow-Methods", none}};
        row("page", "GET", "/?securityKey=nope", {}, none, 200, QByteArray(), page);
        row("page, preflight", "OPTIONS", "/", {}, none, 200, QByteArray(), page);
        row("page, broken JSON", "POST", "/", {{"Content-Type", json}}, "{oops", 200, QByteArray(), page);

        const ApiHeaders bearer = m_server->bearer();
        for (const char* route : {"/getPrinters", "/getPrinterStatus", "/sendJob", "/setNotificationOrder",
                                  "/getStatus", "/getTpas", "/getTpaStatus", "/getTpaTransactionStatus",
                                  "/clearTpaTransactionStatus", "/sendTpaOpen", "/sendTpaClose", "/sendTpaPurchase",
                                  "/sendTpaRefund", "/sendTpaOpenMenu", "/sendTpaReprintLastReceipt"}) {
            for (const QByteArray& path : {QByteArray(route), QByteArray(route) + "/"}) {
                row((path + " without key").constData(), "POST", path, {}, none, 401, invalidKey);
                row(path.constData(), "PUT", path, bearer, none, 200, QByteArray());
            }
        }
        const QByteArray notFound = envelope("error", "Not found", false);
        for (const char* path : {"/getprinters", "/getPrinters//", "/getPrinterStatus/EPSON", "//getStatus"}) {
            row((QByteArray(path) + " without key").constData(), "GET", path, {}, none, 401, invalidKey);
            row(path, "GET", path, bearer, none, 404, notFound);
        }
    }
    void routes() { compare(); }

    // A body announced as JSON that does not parse is answered before the
    // preflight, the key and the route.
    void invalidJson_data()
    {
        columns();
        const ApiHeaders type{{"Content-Type", json}};
        row("route, no key", "POST", "/getStatus", type, "{oops", 200, invalidJsonBody);
        row("outside the routes", "POST", "/nowhere", type, "{oops", 200, invalidJsonBody);
        row("preflight", "OPTIONS", "/getStatus", type, "{oops", 200, invalidJsonBody,
            {{"Access-Control-Allow-Methods", none}});
        row("trailing garbage", "POST", "/getStatus", type, "{\"securityKey\": \"x\"} x", 200, invalidJsonBody);
    }
    void invalidJson() { compare(); }

    void keyCarriers_data()
    {
        columns();
        const QByteArray k = m_key;
        const QByteArray q = "/getStatus?securityKey=" + k;
        const QByteArray member = "{\"securityKey\": \"" + k + "\"}";
        const auto carrier = [](const char* name, const QByteArray& target, const QByteArray& authorization,
                                const QByteArray& type, const QByteArray& body, bool accepted) {
            ApiHeaders headers;
            if (!authorization.isEmpty())
                headers += ApiHeaders{{"Authorization", authorization}};
            if (!type.isEmpty())
                headers += ApiHeaders{{"Content-Type", type}};
            row(name, "POST", target, headers, body, accepted ? 200 : 401, accepted ? deviceOnline : invalidKey);
        };
        const QByteArray bare = "/getStatus";
        carrier("query", q, none, none, none, true);
        carrier("no key", bare, none, none, none, false);
        carrier("key in other case", "/getStatus?securityKey=" + k.toUpper(), none, none, none, false);
        carrier("key with more after it", q + "x", none, none, none, false);
        carrier("text ends at NUL", q + "%00tail", none, none, none, true);
        carrier("form body", bare, none, "application/x-www-form-urlencoded", "securityKey=" + k, true);
        carrier("bearer", bare, "Bearer " + k, none, none, true);
        carrier("bearer beats the parameter", "/getStatus?securityKey=nope", "Bearer " + k, none, none, true);
        carrier("wrong bearer beats the parameter", q, "Bearer nope", none, none, false);
        carrier("two spaces: parameter used", q, "Bearer  " + k, none, none, true);
        carrier("two spaces alone", bare, "Bearer  " + k, none, none, false);
        carrier("three pieces", bare, "Bearer " + k + " x", none, none, false);
        carrier("other word: parameter used", q, "Token " + k, none, none, true);
        carrier("lower-case bearer", bare, "bearer " + k, none, none, false);
        carrier("json member", bare, none, json, member, true);
        carrier("json charset", bare, none, json + "; charset=utf-8", member, true);
        carrier("json member not a string", bare, none, json, "{\"securityKey\": 12}", false);
        carrier("json mode ignores the query", q, none, json, "{}", false);
        carrier("json, bearer beats the member", bare, "Bearer " + k, json, "{\"securityKey\": \"nope\"}", true);
        carrier("Application/JSON body is not read", bare, none, "Application/JSON", member, false);
    }
    void keyCarriers() { compare(); }

    // A parameter counts when it is a whole positive integer, a JSON member
    // when it is a positive whole number.
    void withNotifications_data()
    {
        columns();
        const QByteArray listed =
            QJsonDocument(QJsonObject{{"status", true}, {"data", "Device online"}, {"notifications", QJsonArray()}})
                .toJson();
        const auto parameter = [this, &listed](const char* name, const QByteArray& value, bool shown) {
            row(name, "GET", "/getStatus?with_notifications=" + value, m_server->bearer(), none, 200,
                shown ? listed : deviceOnline);
        };
        const auto member = [this, &listed](const char* name, const QByteArray& value, bool shown) {
            row(name, "POST", "/getStatus", m_server->bearer() + ApiHeaders{{"Content-Type", json}},
                "{\"with_notifications\": " + value + "}", 200, shown ? listed : deviceOnline);
        };
        parameter("param 7", "7", true);
        parameter("param 0", "0", false);
        parameter("param true", "true", false);
        parameter("param 1x", "1x", false);
        member("json 1", "1", true);
        member("json 2.0", "2.0", true);
        member("json 0", "0", false);
        member("json 1.5", "1.5", false);
        member("json true", "true", false);
        member("json string", "\"1\"", false);
    }
    void withNotifications() { compare(); }

    // An empty configured key equals an absent key: the check passes without one.
    void emptyConfiguredKey()
    {
        m_server->printClient().setSecurityKey(QString());
        const ApiReply bare = m_server->client().get("/getStatus");
        const ApiReply keyed = m_server->client().get("/getStatus?securityKey=" + m_key);
        m_server->printClient().setSecurityKey(ApiServer::defaultKey());
        QCOMPARE(bare.body, deviceOnline);
        QCOMPARE(keyed.status, 401);
    }

private:
    static void columns()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<ApiHeaders>("headers");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<ApiHeaders>("answerHeaders");
    }

    void compare() const
    {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, target);
        QFETCH(ApiHeaders, headers);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QByteArray, answer);
        QFETCH(ApiHeaders, answerHeaders);

        const ApiReply reply = m_server->client().request(method, target, headers, body);
        QVERIFY2(reply.status, qPrintable(reply.error));
        QCOMPARE(reply.status, status);
        if (!answer.isNull())
            QCOMPARE(reply.body, answer);
        for (const auto& header : answerHeaders)
            QCOMPARE(reply.header(header.first), header.second);
    }

    std::unique_ptr<ApiServer> m_server;
    QByteArray m_key;
};

QLK_TEST_MAIN_CORE(TestApiRouting)
#include "tst_apirouting.moc"

// What every request passes before an endpoint runs, and the notification
// endpoints, end to end over HTTPS.
#include "support/ApiServer.h"
#include "support/HttpTestRig.h"
#include "support/TestMain.h"

#include "api/PrintClientRequestHandler.h"
#include "core/PrintClient.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

namespace {

QByteArray envelope(const QByteArray& member, const QByteArray& text, bool ok)
{
    return "{\n    \"" + member + "\": \"" + text + "\",\n    \"status\": " + (ok ? "true" : "false") + "\n}\n";
}

const QByteArray deviceOnline = envelope("data", "Device online", true);
const QByteArray invalidKey = envelope("error", "Invalid security key", false);
const QByteArray json = "application/json";
const QByteArray none;
const QJsonObject sent{{"request_id", 41},         {"terminal_id", 3},      {"status_id", 2},
                       {"title", "Mesa 7 — pago"}, {"subtitle", "12,50 €"}, {"lastModifiedBy", "Ana"}};

} // namespace

class TestApiRouting : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_server = std::make_unique<ApiServer>();
        QVERIFY2(m_server->isValid(), qPrintable(m_server->errorString()));
    }

    // A request; its status, exact body (null: not compared), headers (empty: absent)
    void requests_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<ApiHeaders>("headers");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<ApiHeaders>("answerHeaders");
        const auto row = [](const QByteArray& name, const QByteArray& method, const QByteArray& target,
                            const ApiHeaders& headers, const QByteArray& body, int status, const QByteArray& answer,
                            const ApiHeaders& answerHeaders = {}) {
            QTest::newRow(name.constData()) << method << target << headers << body << status << answer << answerHeaders;
        };
        const QByteArray k = m_server->keyBytes();
        const ApiHeaders bearer = m_server->bearer();
        const ApiHeaders asJson{{"Content-Type", json}};

        // The origin only steers the browser: the request is carried out in any case.
        for (const QByteArray& origin :
             {QByteArray("https://a.b.quorvapos.com:8443"), QByteArray("https://evilquorva.pt")})
            row(origin, "GET", "/getStatus", bearer + ApiHeaders{{"Origin", origin}}, none, 200, deviceOnline,
                {{"Access-Control-Allow-Origin", origin.contains("evil") ? "https://app.quorva.pt" : origin},
                 {"Vary", "Origin"}});
        // Answered before the key is looked at.
        row("preflight", "OPTIONS", "/getPrinters",
            {{"Origin", "https://app.quorva.com"},
             {"Authorization", "Bearer nope"},
             {"Access-Control-Request-Private-Network", "true"}},
            none, 200, "",
            {{"Access-Control-Allow-Origin", "https://app.quorva.com"},
             {"Access-Control-Allow-Methods", "POST, GET, OPTIONS"},
             {"Access-Control-Allow-Headers", "authorization, Authorization, Content-Type"},
             {"Access-Control-Max-Age", "86400"},
             {"Access-Control-Allow-Private-Network", "true"}});
        row("status page needs no key", "GET", "/?securityKey=nope", {}, none, 200, QByteArray(),
            {{"Content-Type", "text/html; charset=UTF-8"}});

        int i = 0;
        for (const QByteArray& route :
             QByteArray("/getPrinters /getPrinterStatus /sendJob /setNotificationOrder /getStatus /getTpas "
                        "/getTpaStatus /getTpaTransactionStatus /clearTpaTransactionStatus /sendTpaOpen /sendTpaClose "
                        "/sendTpaPurchase /sendTpaRefund /sendTpaOpenMenu /sendTpaReprintLastReceipt")
                 .split(' '))
            row(route, "PUT", route + (i++ % 2 ? "/" : ""), bearer, none, 200, QByteArray());
        row("outside the routes", "GET", "/getPrinterStatus/EPSON", bearer, none, 404,
            envelope("error", "Not found", false));

        // Before the key and the route; a repeated member is not taken as the last one.
        const QByteArray twice = "{\"securityKey\": \"" + k + "\", \"securityKey\": \"" + k + "\"}";
        row("broken JSON", "POST", "/getStatus", asJson, "{oops", 200, envelope("error", "Invalid Json", false));
        row("repeated member", "POST", "/getStatus", asJson, twice, 200, envelope("error", "Invalid Json", false));

        row("key in the query", "POST", "/getStatus?securityKey=" + k, {}, none, 200, deviceOnline);
        row("key in a form body", "POST", "/getStatus", {{"Content-Type", "application/x-www-form-urlencoded"}},
            "securityKey=" + k, 200, deviceOnline);
        row("key as bearer", "POST", "/getStatus", bearer, none, 200, deviceOnline);
        row("key as JSON member", "POST", "/getStatus", asJson, "{\"securityKey\": \"" + k + "\"}", 200, deviceOnline);
        row("wrong bearer beats the query", "POST", "/getStatus?securityKey=" + k, {{"Authorization", "Bearer nope"}},
            none, 401, invalidKey);

        // A whole positive number shows the list; nothing wraps round on overflow.
        const QByteArray listed =
            QJsonDocument(QJsonObject{{"status", true}, {"data", "Device online"}, {"notifications", QJsonArray()}})
                .toJson();
        for (const auto& [value, shown] :
             QList<QPair<QByteArray, bool>>{{"7", true}, {"1x", false}, {"4294967297", false}}) {
            row("with_notifications=" + value, "GET", "/getStatus?with_notifications=" + value, bearer, none, 200,
                shown ? listed : deviceOnline);
        }
        for (const auto& [value, shown] :
             QList<QPair<QByteArray, bool>>{{"1", true}, {"1.5", false}, {"true", false}, {"1e300", true}}) {
            row("JSON with_notifications " + value, "POST", "/getStatus", bearer + asJson,
                "{\"with_notifications\": " + value + "}", 200, shown ? listed : deviceOnline);
        }
    }

    void requests()
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

    // Without its state object the handler knows no key: not even an empty one passes.
    void handlerWithoutStateLetsNobodyIn()
    {
        PrintClientRequestHandler handler;
        HttpTestServer server({{"port", 0}}, &handler);
        HttpTestResponse response;
        const auto client =
            HttpTestClient::askUntilServed(server.port(), false, HttpTestClient::get("/getStatus"), &response);
        QCOMPARE(response.status, 401);
        QCOMPARE(response.body, invalidKey);
    }

    // A notification read back through /getStatus as it was sent, stamped on arrival.
    void notification_data()
    {
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("json") << json << QJsonDocument(sent).toJson() << true;
        QTest::newRow("parameters") << QByteArray("application/x-www-form-urlencoded")
                                    << "request_id=41&terminal_id=3&status_id=2&lastModifiedBy=Ana&title=" +
                                           QUrl::toPercentEncoding("Mesa 7 — pago") +
                                           "&subtitle=" + QUrl::toPercentEncoding("12,50 €")
                                    << true;
        QTest::newRow("no subtitle") << json << QByteArray("{\"title\": \"A\"}") << false;
    }

    void notification()
    {
        QFETCH(QByteArray, type);
        QFETCH(QByteArray, body);
        QFETCH(bool, accepted);
        m_server->printClient().setNotifications({});
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        const ApiReply reply = m_server->client().request(
            "POST", "/setNotificationOrder", m_server->bearer() + ApiHeaders{{"Content-Type", type}}, body);
        QCOMPARE(reply.body, accepted ? envelope("data", "Notification received", true)
                                      : envelope("data", "Error receiving notification", false));
        const QJsonArray list = m_server->client()
                                    .request("GET", "/getStatus?with_notifications=1", m_server->bearer())
                                    .json()
                                    .value(QStringLiteral("notifications"))
                                    .toArray();
        QCOMPARE(list.size(), accepted ? 1 : 0);
        if (!accepted)
            return;
        QJsonObject record = list.first().toObject();
        const QDateTime date = QDateTime::fromString(record.take(QStringLiteral("date")).toString(), Qt::ISODate);
        QVERIFY2(date >= before && date <= QDateTime::currentDateTime(), qPrintable(date.toString()));
        QCOMPARE(record, sent);
    }

private:
    std::unique_ptr<ApiServer> m_server;
};

QLK_TEST_MAIN_CORE(TestApiRouting)
#include "tst_apirouting.moc"

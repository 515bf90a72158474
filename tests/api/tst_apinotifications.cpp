// Notifications posted through /setNotificationOrder and read back through
// /getStatus, in JSON mode and in parameter mode, over HTTPS.
#include "support/ApiServer.h"
#include "support/TestMain.h"

#include <QDateTime>
#include <QJsonArray>
#include <QUrlQuery>

namespace {

const QByteArray receivedBody = "{\n    \"data\": \"Notification received\",\n    \"status\": true\n}\n";
const QByteArray refusedBody = "{\n    \"data\": \"Error receiving notification\",\n    \"status\": false\n}\n";

QByteArray form(const QJsonObject& fields)
{
    QUrlQuery query;
    for (auto it = fields.begin(); it != fields.end(); ++it)
        query.addQueryItem(it.key(),
                           it.value().isString() ? it.value().toString() : QString::number(it.value().toInt()));
    return query.toString(QUrl::FullyEncoded).toUtf8();
}

} // namespace

class TestApiNotifications : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void roundTrip_data();
    void roundTrip();
    void refused_data();
    void refused();
    void newestTwenty();

private:
    ApiReply post(bool json, const QJsonObject& fields) const;
    QJsonArray listed() const;

    std::unique_ptr<ApiServer> m_server;
};

void TestApiNotifications::init()
{
    m_server = std::make_unique<ApiServer>();
    QVERIFY2(m_server->isValid(), qPrintable(m_server->errorString()));
}

void TestApiNotifications::cleanup()
{
    m_server.reset();
}

ApiReply TestApiNotifications::post(bool json, const QJsonObject& fields) const
{
    if (json) {
        QJsonObject body = fields;
        body.insert(QStringLiteral("securityKey"), m_server->key());
        return m_server->client().postJson("/setNotificationOrder", body);
    }
    return m_server->client().postForm("/setNotificationOrder/", form(fields), m_server->bearer());
}

QJsonArray TestApiNotifications::listed() const
{
    const ApiReply reply = m_server->client().get("/getStatus?with_notifications=1", m_server->bearer());
    return reply.json().value(QStringLiteral("notifications")).toArray();
}

void TestApiNotifications::roundTrip_data()
{
    QTest::addColumn<bool>("json");
    QTest::addColumn<QJsonObject>("fields");
    QTest::addColumn<QJsonObject>("expected"); // what /getStatus lists, "date" aside

    const QJsonObject minimal{{"title", "Order 12"}, {"subtitle", "Table 4"}};
    const QJsonObject minimalListed{{"request_id", 0},     {"terminal_id", 0},      {"status_id", 0},
                                    {"title", "Order 12"}, {"subtitle", "Table 4"}, {"lastModifiedBy", ""}};
    QTest::newRow("json, title and subtitle only") << true << minimal << minimalListed;
    QTest::newRow("parameters, title and subtitle only") << false << minimal << minimalListed;

    const QJsonObject full{{"request_id", 41},         {"terminal_id", 3},      {"status_id", 2},
                           {"title", "Mesa 7 — pago"}, {"subtitle", "12,50 €"}, {"lastModifiedBy", "Ana"}};
    QTest::newRow("json, every member") << true << full << full;
    QTest::newRow("parameters, every member") << false << full << full;

    QJsonObject digits = minimal;
    digits.insert(QStringLiteral("request_id"), QStringLiteral("41"));
    QTest::newRow("json, identifier as a string is 0") << true << digits << minimalListed;
}

void TestApiNotifications::roundTrip()
{
    QFETCH(bool, json);
    QFETCH(QJsonObject, fields);
    QFETCH(QJsonObject, expected);

    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    const ApiReply reply = post(json, fields);
    QVERIFY2(reply.status, qPrintable(reply.error));
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.body, receivedBody);

    const QJsonArray list = listed();
    QCOMPARE(list.size(), 1);
    QJsonObject record = list.first().toObject();
    const QDateTime date =
        QDateTime::fromString(record.take(QStringLiteral("date")).toString(), QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
    QVERIFY2(date.isValid() && date >= before && date <= QDateTime::currentDateTime(), qPrintable(date.toString()));
    QCOMPARE(record, expected);

    // Reading does not take them away.
    QCOMPARE(listed().size(), 1);
}

void TestApiNotifications::refused_data()
{
    QTest::addColumn<bool>("json");
    QTest::addColumn<QJsonObject>("fields");

    QTest::newRow("json, nothing but the key") << true << QJsonObject();
    QTest::newRow("json, title alone") << true << QJsonObject{{"title", "A"}};
    QTest::newRow("json, empty subtitle") << true << QJsonObject{{"title", "A"}, {"subtitle", ""}};
    QTest::newRow("json, subtitle not a string") << true << QJsonObject{{"title", "A"}, {"subtitle", 4}};
    QTest::newRow("parameters, title alone") << false << QJsonObject{{"title", "A"}};
    QTest::newRow("parameters, none") << false << QJsonObject();
}

void TestApiNotifications::refused()
{
    QFETCH(bool, json);
    QFETCH(QJsonObject, fields);

    const ApiReply reply = post(json, fields);
    QVERIFY2(reply.status, qPrintable(reply.error));
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.body, refusedBody);
    QCOMPARE(listed(), QJsonArray());
}

// The 21st pushes out the first; the others stay in the order they came, in
// whichever mode each was sent.
void TestApiNotifications::newestTwenty()
{
    for (int i = 1; i <= 21; ++i) {
        const QJsonObject fields{{"request_id", i}, {"title", QStringLiteral("N%1").arg(i)}, {"subtitle", "s"}};
        const ApiReply reply = post(i % 2 == 0, fields);
        QCOMPARE(reply.body, receivedBody);
    }
    const QJsonArray list = listed();
    QCOMPARE(list.size(), 20);
    for (int i = 0; i < 20; ++i)
        QCOMPARE(list.at(i).toObject().value(QStringLiteral("request_id")).toInt(), i + 2);
}

QLK_TEST_MAIN_CORE(TestApiNotifications)
#include "tst_apinotifications.moc"

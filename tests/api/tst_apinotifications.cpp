// Notifications posted through /setNotificationOrder and read back through
// /getStatus, in JSON mode and in parameter mode, over HTTPS.
#include "support/ApiServer.h"
#include "support/TestMain.h"

#include "core/PrintClient.h"

#include <QDateTime>
#include <QJsonArray>
#include <QUrlQuery>

class TestApiNotifications : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_server = std::make_unique<ApiServer>();
        QVERIFY2(m_server->isValid(), qPrintable(m_server->errorString()));
    }

    void cleanupTestCase() { m_server.reset(); }
    void init() { m_server->printClient().setNotifications({}); }

    void post_data()
    {
        QTest::addColumn<bool>("json");
        QTest::addColumn<QJsonObject>("fields");
        QTest::addColumn<QJsonObject>("expected"); // what /getStatus lists, "date" aside; empty: refused

        const QJsonObject full{{"request_id", 41},         {"terminal_id", 3},      {"status_id", 2},
                               {"title", "Mesa 7 — pago"}, {"subtitle", "12,50 €"}, {"lastModifiedBy", "Ana"}};
        const QJsonObject defaults{{"request_id", 0},     {"terminal_id", 0},      {"status_id", 0},
                                   {"title", "Order 12"}, {"subtitle", "Table 4"}, {"lastModifiedBy", ""}};
        QTest::newRow("json, every member") << true << full << full;
        QTest::newRow("parameters, every member") << false << full << full;
        QTest::newRow("json, identifier as a string is 0")
            << true << QJsonObject{{"request_id", "41"}, {"title", "Order 12"}, {"subtitle", "Table 4"}} << defaults;
        QTest::newRow("json, title alone") << true << QJsonObject{{"title", "A"}} << QJsonObject();
        QTest::newRow("json, empty subtitle") << true << QJsonObject{{"title", "A"}, {"subtitle", ""}} << QJsonObject();
        QTest::newRow("json, subtitle a number")
            << true << QJsonObject{{"title", "A"}, {"subtitle", 4}} << QJsonObject();
        QTest::newRow("parameters, title alone") << false << QJsonObject{{"title", "A"}} << QJsonObject();
    }

    void post()
    {
        QFETCH(bool, json);
        QFETCH(QJsonObject, fields);
        QFETCH(QJsonObject, expected);

        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        const ApiReply reply = send(json, fields);
        QVERIFY2(reply.status, qPrintable(reply.error));
        QCOMPARE(reply.body,
                 expected.isEmpty()
                     ? QByteArray("{\n    \"data\": \"Error receiving notification\",\n    \"status\": false\n}\n")
                     : QByteArray("{\n    \"data\": \"Notification received\",\n    \"status\": true\n}\n"));
        const QJsonArray list = listed();
        QCOMPARE(list.size(), expected.isEmpty() ? 0 : 1);
        if (expected.isEmpty())
            return;
        QJsonObject record = list.first().toObject();
        const QDateTime date = QDateTime::fromString(record.take(QStringLiteral("date")).toString(),
                                                     QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
        QVERIFY2(date >= before && date <= QDateTime::currentDateTime(), qPrintable(date.toString()));
        QCOMPARE(record, expected);
        QCOMPARE(listed().size(), 1); // reading does not take them away
    }

    // The 21st pushes out the first; the others stay in the order they came, in
    // whichever mode each was sent.
    void newestTwenty()
    {
        for (int i = 1; i <= 21; ++i)
            QCOMPARE(send(i % 2 == 0, {{"request_id", i}, {"title", "N"}, {"subtitle", "s"}}).status, 200);
        const QJsonArray list = listed();
        QCOMPARE(list.size(), 20);
        for (int i = 0; i < 20; ++i)
            QCOMPARE(list.at(i).toObject().value(QStringLiteral("request_id")).toInt(), i + 2);
    }

private:
    ApiReply send(bool json, QJsonObject fields) const
    {
        if (json) {
            fields.insert(QStringLiteral("securityKey"), m_server->key());
            return m_server->client().postJson("/setNotificationOrder", fields);
        }
        QUrlQuery query;
        for (auto it = fields.begin(); it != fields.end(); ++it)
            query.addQueryItem(it.key(),
                               it.value().isString() ? it.value().toString() : QString::number(it.value().toInt()));
        return m_server->client().postForm("/setNotificationOrder/", query.toString(QUrl::FullyEncoded).toUtf8(),
                                           m_server->bearer());
    }

    QJsonArray listed() const
    {
        const ApiReply reply = m_server->client().get("/getStatus?with_notifications=1", m_server->bearer());
        return reply.json().value(QStringLiteral("notifications")).toArray();
    }

    std::unique_ptr<ApiServer> m_server;
};

QLK_TEST_MAIN_CORE(TestApiNotifications)
#include "tst_apinotifications.moc"

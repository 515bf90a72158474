#include "core/Notification.h"
#include "core/PrintClient.h"
#include "support/TestMain.h"

#include <QJsonDocument>
#include <QPointer>

namespace {

QJsonObject record(const QString& title, const QString& date = QString())
{
    QJsonObject json{{"title", title}, {"subtitle", "sub"}};
    if (!date.isNull())
        json.insert("date", date);
    return json;
}

QString dateSecondsAgo(int seconds)
{
    return QDateTime::currentDateTime().addSecs(-seconds).toString(Notification::dateFormat);
}

} // namespace

class TestNotifications : public QObject
{
    Q_OBJECT

private slots:
    void fromJson_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("requestId");
        QTest::addColumn<QString>("date");

        QTest::newRow("full record") << QByteArray(R"({"request_id": 7, "terminal_id": 3, "status_id": 2,
            "title": "Pagamento", "subtitle": "Mesa 4", "lastModifiedBy": "caixa 1", "date": "2026-03-04T10:00:00"})")
                                     << true << 7 << "2026-03-04T10:00:00";
        QTest::newRow("identifier as a string of digits") << QByteArray(R"({"request_id": "12", "title": "t",
            "subtitle": "s", "date": "2026-03-04T10:00:00"})")
                                                          << true << 0 << "2026-03-04T10:00:00";
        QTest::newRow("fractional identifier")
            << QByteArray(R"({"request_id": 1.5, "title": "t", "subtitle": "s", "date": "2026-03-04T10:00:00"})")
            << true << 0 << "2026-03-04T10:00:00";
        QTest::newRow("unparsable date") << QByteArray(R"({"title": "t", "subtitle": "s", "date": "ontem"})") << true
                                         << 0 << "";
        QTest::newRow("date with a zone is not the format")
            << QByteArray(R"({"title": "t", "subtitle": "s", "date": "2026-03-04T10:00:00Z"})") << true << 0 << "";
        QTest::newRow("no title") << QByteArray(R"({"subtitle": "s"})") << false << 0 << "";
        QTest::newRow("empty subtitle") << QByteArray(R"({"title": "t", "subtitle": ""})") << false << 0 << "";
        QTest::newRow("title not a string") << QByteArray(R"({"title": 5, "subtitle": "s"})") << false << 0 << "";
    }

    void fromJson()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, accepted);
        QFETCH(int, requestId);
        QFETCH(QString, date);

        const QJsonObject object = QJsonDocument::fromJson(json).object();
        QVERIFY(!object.isEmpty());
        std::unique_ptr<Notification> notification(Notification::fromJson(object));
        QCOMPARE(notification != nullptr, accepted);
        if (!accepted)
            return;
        QCOMPARE(notification->requestId(), requestId);
        QCOMPARE(notification->dateTime().isValid(), !date.isEmpty());
        QCOMPARE(notification->toJson().value("date").toString(), date);
        if (QTest::currentDataTag() == QByteArray("full record"))
            QCOMPARE(notification->toJson(), object);
    }

    void twentyFirstPushesOutTheFirst()
    {
        PrintClient client;
        QSignalSpy changed(&client, &PrintClient::notificationsChanged);
        QPointer<Notification> first;
        for (int i = 1; i <= 21; ++i) {
            Notification* notification = Notification::fromJson(record(QString::number(i)));
            if (i == 1)
                first = notification;
            client.addNotification(notification);
        }
        QCOMPARE(changed.count(), 21);
        const auto kept = client.notifications();
        QCOMPARE(kept.size(), 20);
        for (int i = 0; i < 20; ++i)
            QCOMPARE(kept.at(i)->title(), QString::number(i + 2));
        // The pushed-out record is released on the next turn of the event loop.
        QTRY_VERIFY(first.isNull());
    }

    void expiryBySendersDate()
    {
        PrintClient client;
        client.addNotification(Notification::fromJson(record("old", dateSecondsAgo(1300))));
        client.addNotification(Notification::fromJson(record("recent", dateSecondsAgo(1100))));
        client.addNotification(Notification::fromJson(record("unparsable", "10:00")));
        client.addNotification(Notification::fromJson(record("future", dateSecondsAgo(-3600))));
        client.addNotification(Notification::fromJson(record("undated")));

        QSignalSpy changed(&client, &PrintClient::notificationsChanged);
        QVERIFY(QMetaObject::invokeMethod(&client, "checkNotificationDelete"));
        QCOMPARE(changed.count(), 1);
        QStringList titles;
        for (const auto& notification : client.notifications())
            titles << notification->title();
        QCOMPARE(titles, QStringList({"recent", "future", "undated"}));

        // An empty list still announces the pass.
        client.setNotifications({});
        changed.clear();
        QVERIFY(QMetaObject::invokeMethod(&client, "checkNotificationDelete"));
        QCOMPARE(changed.count(), 1);
    }

    void heldRecordOutlivesRemoval()
    {
        PrintClient client;
        client.addNotification(Notification::fromJson(record("old", dateSecondsAgo(3000))));
        const auto held = client.notifications();
        QPointer<Notification> watched = held.first().get();
        QVERIFY(QMetaObject::invokeMethod(&client, "checkNotificationDelete"));
        QVERIFY(client.notifications().isEmpty());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!watched.isNull());
        QCOMPARE(held.first()->title(), QString("old"));
    }
};

QLK_TEST_MAIN_CORE(TestNotifications)
#include "tst_notifications.moc"

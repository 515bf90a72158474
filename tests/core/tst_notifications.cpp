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
    // A full record comes back as it went in; an unreadable date is kept as
    // none; a record without a title is refused. The other field rules are
    // checked end to end by the API tests.
    void fromJson()
    {
        const QJsonObject full = QJsonDocument::fromJson(R"({"request_id": 7, "terminal_id": 3, "status_id": 2,
            "title": "Pagamento", "subtitle": "Mesa 4", "lastModifiedBy": "caixa 1", "date": "2026-03-04T10:00:00"})")
                                     .object();
        std::unique_ptr<Notification> notification(Notification::fromJson(full));
        QVERIFY(notification && notification->dateTime().isValid());
        QCOMPARE(notification->toJson(), full);

        notification.reset(Notification::fromJson(record("t", "ontem")));
        QVERIFY(notification && !notification->dateTime().isValid());
        QCOMPARE(notification->toJson().value("date").toString(), QString());
        QVERIFY(!Notification::fromJson({{"subtitle", "s"}}));
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
};

QLK_TEST_MAIN_CORE(TestNotifications)
#include "tst_notifications.moc"

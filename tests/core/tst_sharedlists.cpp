#include "core/Notification.h"
#include "core/PrintClient.h"
#include "support/CupsQueue.h"
#include "support/TestMain.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QPointer>
#include <QSettings>

#include <atomic>
#include <thread>

// The printer, terminal and notification lists: reconciled on the main thread while connection threads read copies.
class TestSharedLists : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLK_REQUIRE_CUPS();
        QSettings().setValue("licenseAccepted", false);
        for (int i = 0; i < 3; ++i) {
            m_queues.push_back(std::make_unique<CupsQueue>(CupsQueue::uniqueName(QStringLiteral("qlk-core")),
                                                           QStringLiteral("socket://127.0.0.1:9")));
            QVERIFY2(m_queues.back()->isValid(), qPrintable(m_queues.back()->errorString()));
        }
    }

    void printersKeepTheirIdentity()
    {
        PrintClient client;
        deliver(client, {0, 1});
        QPointer<Printer> a = client.printerList().at(0).get(), b = client.printerList().at(1).get();
        // Reordered and grown: the known ones stay in place, the new one is appended.
        QSignalSpy changed(&client, &PrintClient::printersChanged);
        deliver(client, {2, 1, 0});
        QVERIFY(changed.count() == 1 && client.printerList().size() == 3 && client.printerList().at(0).get() == a &&
                client.printerList().at(1).get() == b);
        QCOMPARE(client.printerList().at(2)->name(), m_queues.at(2)->name());
        // The same list again keeps the window's rows; the states are read again only while the window shows.
        QSignalSpy stateRead(a.data(), &Printer::stateChanged);
        deliver(client, {2, 1, 0});
        QVERIFY2(changed.count() == 1 && stateRead.count() == 0, "the same list, no window");
        client.setWindowShown(true);
        deliver(client, {2, 1, 0});
        QVERIFY2(changed.count() == 1 && stateRead.count() == 2, "the same list, window shown");
        // Vanished ones are released on the next turn of the event loop.
        deliver(client, {2});
        QCOMPARE(client.printerList().size(), 1);
        QTRY_VERIFY(a.isNull() && b.isNull());
    }

    // The window hands back a list read before connection threads pushed its first record out: not owned twice.
    void recordThatLeftIsNotTakenBack()
    {
        PrintClient client;
        client.addNotification(Notification::fromJson({{"title", "old"}, {"subtitle", "s"}}));
        const QList<Notification*> seen = client.uiNotifications();
        QPointer<Notification> old = seen.first();
        for (int i = 0; i < PrintClient::maxNotifications; ++i)
            client.addNotification(Notification::fromJson({{"title", "new"}, {"subtitle", QString::number(i)}}));
        client.setNotifications(seen);
        QVERIFY(client.uiNotifications().isEmpty());
        QTRY_VERIFY(old.isNull());
    }

    void listsUsedOnOtherThreadsWhileRefreshed()
    {
        const QList<SerialPortDescription> ports{SerialPortDescription::simulated("/nonexistent/a", 0x0B00, 0x0060),
                                                 SerialPortDescription::simulated("/nonexistent/b", 0x0403, 0x6001),
                                                 SerialPortDescription::simulated("/nonexistent/c", 0x0B00, 0x0060)};
        PrintClient client;
        std::atomic<bool> stop{false}, tooMany{false};
        std::atomic<int> served{0};
        std::vector<std::thread> connections;
        for (int t = 0; t < 4; ++t) {
            connections.emplace_back([&, t] {
                for (int i = 0; !stop; ++i) {
                    // Every other record is already expired, so each pass removes some.
                    const QDateTime date = QDateTime::currentDateTime().addSecs(i % 2 ? -5000 : 0);
                    client.addNotification(Notification::fromJson({{"title", QString::number(t)},
                                                                   {"subtitle", QString::number(i)},
                                                                   {"date", date.toString(Notification::dateFormat)}}));
                    QJsonArray answer;
                    for (const auto& record : client.notifications())
                        answer.append(record->toJson());
                    for (const auto& printer : client.printerList())
                        answer.append(printer->name() + (printer->available() ? " on" : " off"));
                    for (const auto& tpa : client.tpaList())
                        answer.append(tpa->name() + QString::number(tpa->vendorId()) + tpa->tpa().portName());
                    tooMany = tooMany || client.notifications().size() > PrintClient::maxNotifications;
                    ++served;
                }
            });
        }

        // No early return while the connection threads run: they must be joined.
        const QDeadlineTimer running(1500);
        for (int pass = 0; !running.hasExpired() || served < 1000; ++pass) {
            deliver(client, QList<int>{0, 1, 2}.mid(pass % 4));
            QMetaObject::invokeMethod(&client, "onGetTpas", Q_ARG(QList<SerialPortDescription>, ports.mid(pass % 3)));
            QMetaObject::invokeMethod(&client, "checkNotificationDelete");
            if (pass % 10 == 0)
                client.setNotifications(client.uiNotifications().mid(5));
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        stop = true;
        for (auto& connection : connections)
            connection.join();
        QVERIFY(!tooMany);
        // Deferred deletion needs the records on a thread that keeps its event loop.
        std::thread([&client] {
            client.addNotification(Notification::fromJson({{"title", "t"}, {"subtitle", "s"}}));
        }).join();
        QCOMPARE(client.notifications().last()->thread(), client.thread());
    }

private:
    void deliver(PrintClient& client, const QList<int>& queues)
    {
        QStringList names;
        for (int i : queues)
            names.append(m_queues.at(i)->name());
        QVERIFY(QMetaObject::invokeMethod(&client, "onGetPrinters", Q_ARG(QStringList, names)));
    }

    std::vector<std::unique_ptr<CupsQueue>> m_queues;
};

QLK_TEST_MAIN_CORE(TestSharedLists)
#include "tst_sharedlists.moc"

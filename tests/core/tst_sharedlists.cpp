#include "core/Notification.h"
#include "core/PrintClient.h"
#include "support/CupsQueue.h"
#include "support/TestMain.h"

#include <QElapsedTimer>
#include <QJsonArray>

#include <atomic>
#include <thread>
#include <vector>

// Connection threads copy the lists and use their entries while the main
// thread refreshes, expires and deletes them. A sanitizer build reports races;
// a plain build catches use of deleted entries by crashing.
class TestSharedLists : public QObject
{
    Q_OBJECT

private slots:
    void listsUsedOnOtherThreadsWhileRefreshed()
    {
        QLK_REQUIRE_CUPS();
        CupsQueue first(CupsQueue::uniqueName(QStringLiteral("qlk-core")), QStringLiteral("socket://127.0.0.1:9"));
        CupsQueue second(CupsQueue::uniqueName(QStringLiteral("qlk-core")), QStringLiteral("socket://127.0.0.1:9"));
        QVERIFY(first.isValid() && second.isValid());
        const QList<QList<QPrinterInfo>> printerResults{
            {QPrinterInfo::printerInfo(first.name()), QPrinterInfo::printerInfo(second.name())},
            {QPrinterInfo::printerInfo(second.name())},
            {}};
        const auto port = [](const char* name, quint16 vendor) {
            return SerialPortDescription::simulated(QStringLiteral("/nonexistent/") + name, vendor, 0x0060);
        };
        const QList<QList<SerialPortDescription>> tpaResults{
            {port("a", 0x0B00), port("b", 0x0403)}, {port("b", 0x0403)}, {port("c", 0x0B00)}, {}};

        PrintClient client;
        std::atomic<bool> stop{false};
        std::atomic<int> served{0};
        std::atomic<bool> tooMany{false};
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
        bool delivered = true;
        QElapsedTimer running;
        running.start();
        for (int pass = 0; delivered && (running.elapsed() < 1500 || served < 1000); ++pass) {
            delivered = QMetaObject::invokeMethod(&client, "onGetPrinters",
                                                  Q_ARG(QList<QPrinterInfo>, printerResults.at(pass % 3))) &&
                        QMetaObject::invokeMethod(&client, "onGetTpas",
                                                  Q_ARG(QList<SerialPortDescription>, tpaResults.at(pass % 4))) &&
                        QMetaObject::invokeMethod(&client, "checkNotificationDelete");
            if (pass % 10 == 0)
                client.setNotifications(client.uiNotifications().mid(5));
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        stop = true;
        for (auto& connection : connections)
            connection.join();
        QVERIFY(delivered);
        QVERIFY(!tooMany);

        // Deferred deletion needs the records on a thread that keeps its event loop.
        std::thread([&client] {
            client.addNotification(Notification::fromJson({{"title", "t"}, {"subtitle", "s"}}));
        }).join();
        QCOMPARE(client.notifications().last()->thread(), client.thread());
    }
};

QLK_TEST_MAIN_CORE(TestSharedLists)
#include "tst_sharedlists.moc"

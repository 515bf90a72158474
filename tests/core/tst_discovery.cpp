#include "core/PrintClient.h"
#include "support/CupsQueue.h"
#include "support/TestMain.h"

#include <QPointer>
#include <QSettings>

// Printers found by a discovery pass are reconciled with the known ones.
class TestDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void printersKeepTheirIdentity()
    {
        QLK_REQUIRE_CUPS();
        QSettings().setValue("licenseAccepted", false);
        std::vector<std::unique_ptr<CupsQueue>> queues;
        for (int i = 0; i < 3; ++i) {
            queues.push_back(std::make_unique<CupsQueue>(CupsQueue::uniqueName(QStringLiteral("qlk-core")),
                                                         QStringLiteral("socket://127.0.0.1:9")));
            QVERIFY2(queues.back()->isValid(), qPrintable(queues.back()->errorString()));
        }
        PrintClient client;
        const auto deliver = [&](const QList<int>& which) {
            QList<QPrinterInfo> infos;
            for (int i : which)
                infos.append(QPrinterInfo::printerInfo(queues.at(i)->name()));
            QVERIFY(QMetaObject::invokeMethod(&client, "onGetPrinters", Q_ARG(QList<QPrinterInfo>, infos)));
        };
        const auto names = [&] {
            QStringList list;
            for (const auto& printer : client.printerList())
                list.append(printer->name());
            return list;
        };
        const QString a = queues.at(0)->name(), b = queues.at(1)->name(), c = queues.at(2)->name();

        deliver({0, 1});
        QCOMPARE(names(), QStringList({a, b}));
        QPointer<Printer> printerA = client.printerList().at(0).get();
        QPointer<Printer> printerB = client.printerList().at(1).get();

        // Reordered and grown: the known ones stay in place, the new one is appended.
        QSignalSpy changed(&client, &PrintClient::printersChanged);
        deliver({2, 1, 0});
        QCOMPARE(changed.count(), 1);
        QCOMPARE(names(), QStringList({a, b, c}));
        QCOMPARE(client.printerList().at(0).get(), printerA.data());
        QCOMPARE(client.printerList().at(1).get(), printerB.data());

        // Vanished ones are released on the next turn of the event loop.
        deliver({2});
        QCOMPARE(names(), QStringList({c}));
        QTRY_VERIFY(printerA.isNull() && printerB.isNull());
    }
};

QLK_TEST_MAIN_CORE(TestDiscovery)
#include "tst_discovery.moc"

#include "core/PrintClient.h"
#include "support/CupsQueue.h"
#include "support/TestMain.h"

#include <QPointer>
#include <QSettings>

namespace {

QList<QPrinterInfo> infos(const QList<const CupsQueue*>& queues)
{
    QList<QPrinterInfo> list;
    for (const CupsQueue* queue : queues)
        list.append(QPrinterInfo::printerInfo(queue->name()));
    return list;
}

QStringList names(const PrintClient& client)
{
    QStringList list;
    for (const auto& printer : client.printerList())
        list.append(printer->name());
    return list;
}

// Ports that nobody opens: reconciliation only looks at their identifiers.
SerialPortDescription port(const QString& name, quint16 vendor, quint16 product = 0x0060)
{
    return SerialPortDescription::simulated(QStringLiteral("/nonexistent/") + name, vendor, product);
}

void deliverTpas(PrintClient& client, const QList<SerialPortDescription>& ports)
{
    QVERIFY(QMetaObject::invokeMethod(&client, "onGetTpas", Q_ARG(QList<SerialPortDescription>, ports)));
}

void deliverPrinters(PrintClient& client, const QList<QPrinterInfo>& printers)
{
    QVERIFY(QMetaObject::invokeMethod(&client, "onGetPrinters", Q_ARG(QList<QPrinterInfo>, printers)));
}

} // namespace

class TestDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QSettings settings;
        settings.setValue("licenseAccepted", false);
        settings.sync();
        if (!CupsQueue::schedulerProblem().isEmpty())
            return;
        for (int i = 0; i < 3; ++i) {
            m_queues.append(std::make_shared<CupsQueue>(CupsQueue::uniqueName(QStringLiteral("qlk-core")),
                                                        QStringLiteral("socket://127.0.0.1:9")));
            QVERIFY2(m_queues.last()->isValid(), qPrintable(m_queues.last()->errorString()));
        }
    }

    void cleanupTestCase() { m_queues.clear(); }

    void printersKeepTheirIdentity()
    {
        QLK_REQUIRE_CUPS();
        PrintClient client;
        const CupsQueue* a = m_queues.at(0).get();
        const CupsQueue* b = m_queues.at(1).get();
        const CupsQueue* c = m_queues.at(2).get();
        QVERIFY(!QPrinterInfo::printerInfo(a->name()).isNull());

        deliverPrinters(client, infos({a, b}));
        QCOMPARE(names(client), QStringList({a->name(), b->name()}));
        QPointer<Printer> printerA = client.printerList().at(0).get();
        QPointer<Printer> printerB = client.printerList().at(1).get();

        // Reordered and grown: the known ones stay in place, the new one is appended.
        QSignalSpy changed(&client, &PrintClient::printersChanged);
        deliverPrinters(client, infos({c, b, a}));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(names(client), QStringList({a->name(), b->name(), c->name()}));
        QCOMPARE(client.printerList().at(0).get(), printerA.data());
        QCOMPARE(client.printerList().at(1).get(), printerB.data());
        QPointer<Printer> printerC = client.printerList().at(2).get();

        // Vanished ones are released on the next turn of the event loop.
        deliverPrinters(client, infos({c}));
        QCOMPARE(names(client), QStringList({c->name()}));
        QCOMPARE(client.printerList().at(0).get(), printerC.data());
        QTRY_VERIFY(printerA.isNull() && printerB.isNull());

        deliverPrinters(client, {});
        QVERIFY(client.printerList().isEmpty());
        QTRY_VERIFY(printerC.isNull());
    }

    // Only known vendors are terminals, each of its family; a terminal keeps
    // its identity while its port stays, and the same one on another port is new.
    void terminalsKeepTheirIdentity()
    {
        PrintClient client;
        const SerialPortDescription ingenico = port("a", 0x0B00);
        const SerialPortDescription newnote = port("b", 0x0403, 0x6001);
        QSignalSpy changed(&client, &PrintClient::tpasChanged);
        deliverTpas(client, {ingenico, port("c", 0x067B), newnote, port("d", 0x079B), port("e", 0x1E0E)});
        QCOMPARE(changed.count(), 1);
        QList<int> families;
        for (const auto& tpa : client.tpaList())
            families << tpa->vendorId();
        QCOMPARE(families, QList<int>({1, 2, 1, 2}));
        QPointer<Tpa> first = client.tpaList().at(0).get();
        QPointer<Tpa> second = client.tpaList().at(1).get();

        deliverTpas(client, {newnote, ingenico});
        QCOMPARE(client.tpaList().size(), 2);
        QCOMPARE(client.tpaList().at(0).get(), first.data());
        QCOMPARE(client.tpaList().at(1).get(), second.data());

        const SerialPortDescription moved = port("f", 0x0B00);
        deliverTpas(client, {moved, newnote});
        QCOMPARE(client.tpaList().at(0).get(), second.data());
        QCOMPARE(client.tpaList().at(1)->tpa().portName(), moved.portName());
        QTRY_VERIFY(first.isNull());
    }

private:
    QList<std::shared_ptr<CupsQueue>> m_queues;
};

QLK_TEST_MAIN_CORE(TestDiscovery)
#include "tst_discovery.moc"

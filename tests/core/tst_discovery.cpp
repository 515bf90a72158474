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
        QQmlListProperty<Printer> view = client.printers();
        QCOMPARE(view.count(&view), 1);
        QCOMPARE(view.at(&view, 0), printerC.data());

        deliverPrinters(client, {});
        QVERIFY(client.printerList().isEmpty());
        QTRY_VERIFY(printerC.isNull());
    }

    void fetchingEndsWithThePrinterResult()
    {
        PrintClient client;
        QSignalSpy fetching(&client, &PrintClient::fetchingChanged);
        QSignalSpy tpaRequests(&client, &PrintClient::requestTpas);

        client.updatePrinters();
        QVERIFY(client.fetching());
        deliverPrinters(client, {});
        QVERIFY(!client.fetching());

        // A terminal refresh rescans at once, but the busy state waits for printers.
        client.updateTpas();
        QCOMPARE(tpaRequests.count(), 1);
        QVERIFY(client.fetching());
        deliverTpas(client, {});
        QVERIFY(client.fetching());
        deliverPrinters(client, {});
        QVERIFY(!client.fetching());
        QCOMPARE(fetching.count(), 4);
    }

    void terminalFamiliesByVendor_data()
    {
        QTest::addColumn<int>("vendor");
        QTest::addColumn<int>("family");
        QTest::newRow("Ingenico 079B") << 0x079B << 1;
        QTest::newRow("Ingenico 0B00") << 0x0B00 << 1;
        QTest::newRow("Newnote 0403") << 0x0403 << 2;
        QTest::newRow("Newnote 1E0E") << 0x1E0E << 2;
        QTest::newRow("unknown 067B") << 0x067B << 0;
        QTest::newRow("no vendor") << 0 << 0;
    }

    void terminalFamiliesByVendor()
    {
        QFETCH(int, vendor);
        QFETCH(int, family);
        PrintClient client;
        QSignalSpy changed(&client, &PrintClient::tpasChanged);
        deliverTpas(client, {port("a", quint16(vendor))});
        QCOMPARE(changed.count(), 1);
        const auto tpas = client.tpaList();
        QCOMPARE(tpas.size(), family ? 1 : 0);
        if (family)
            QCOMPARE(tpas.first()->vendorId(), family);
    }

    void terminalsKeepTheirIdentity()
    {
        PrintClient client;
        const SerialPortDescription ingenico = port("a", 0x0B00);
        const SerialPortDescription newnote = port("b", 0x0403, 0x6001);
        deliverTpas(client, {ingenico, port("c", 0x067B), newnote});
        QCOMPARE(client.tpaList().size(), 2);
        QPointer<Tpa> first = client.tpaList().at(0).get();
        QPointer<Tpa> second = client.tpaList().at(1).get();
        QCOMPARE(first->tpa().portName(), ingenico.portName());

        deliverTpas(client, {newnote, ingenico});
        QCOMPARE(client.tpaList().at(0).get(), first.data());
        QCOMPARE(client.tpaList().at(1).get(), second.data());

        // The same terminal on another port is a new terminal; the old one goes.
        const SerialPortDescription moved = port("d", 0x0B00);
        deliverTpas(client, {moved, newnote});
        QCOMPARE(client.tpaList().size(), 2);
        QCOMPARE(client.tpaList().at(0).get(), second.data());
        QCOMPARE(client.tpaList().at(1)->tpa().portName(), moved.portName());
        QTRY_VERIFY(first.isNull());
    }

private:
    QList<std::shared_ptr<CupsQueue>> m_queues;
};

QLK_TEST_MAIN_CORE(TestDiscovery)
#include "tst_discovery.moc"

// Serial port descriptions: simulated ports from the environment, merged into discovery.

#include "support/TestMain.h"
#include "terminals/SerialPortDescription.h"

#include <QFile>
#include <QTemporaryDir>

class TestSerialPortDescription : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void discoveryLeavesOutMissingPaths();
};

void TestSerialPortDescription::parse_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QList<int>>("ids"); // vendor, product, vendor, product...
    QTest::addColumn<int>("errors");

    QTest::newRow("one") << "/dev/pts/5=0B00:0060" << QStringList{"/dev/pts/5"} << QList<int>{0x0B00, 0x60} << 0;
    QTest::newRow("two, spaces, 0x and lower case")
        << " /tmp/a=0x0403:6001 , /tmp/b=1e0e:9001" << QStringList{"/tmp/a", "/tmp/b"}
        << QList<int>{0x0403, 0x6001, 0x1E0E, 0x9001} << 0;
    QTest::newRow("equals sign in the path")
        << "/tmp/x=y=079B:0028" << QStringList{"/tmp/x=y"} << QList<int>{0x079B, 0x28} << 0;
    QTest::newRow("malformed entries skipped")
        << "/tmp/a=0B00,/tmp/b=GGGG:0001,=0B00:0001,/tmp/c=12345:1,/tmp/d=0B00:0001" << QStringList{"/tmp/d"}
        << QList<int>{0x0B00, 0x1} << 4;
    QTest::newRow("duplicate path") << "/tmp/a=0B00:0001,/tmp/a=0403:0001" << QStringList{"/tmp/a"}
                                    << QList<int>{0x0B00, 0x1} << 1;
    QTest::newRow("empty") << "" << QStringList{} << QList<int>{} << 0;
}

void TestSerialPortDescription::parse()
{
    QFETCH(QString, list);
    QFETCH(QStringList, paths);
    QFETCH(QList<int>, ids);
    QFETCH(int, errors);

    QStringList messages;
    const QList<SerialPortDescription> ports = SerialPortDescription::parseSimulatedPorts(list, &messages);
    QCOMPARE(messages.size(), errors);
    QCOMPARE(ports.size(), paths.size());
    for (int i = 0; i < ports.size(); ++i) {
        QCOMPARE(ports.at(i).systemLocation(), paths.at(i));
        QCOMPARE(ports.at(i).portName(), paths.at(i));
        QCOMPARE(ports.at(i).vendorIdentifier(), ids.at(2 * i));
        QCOMPARE(ports.at(i).productIdentifier(), ids.at(2 * i + 1));
        QVERIFY(ports.at(i).hasVendorIdentifier());
        QVERIFY(ports.at(i).isSimulated());
    }
}

void TestSerialPortDescription::discoveryLeavesOutMissingPaths()
{
    QTemporaryDir dir;
    const QString present = dir.filePath("ttyPresent");
    const QString missing = dir.filePath("ttyMissing");
    QFile file(present);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    qputenv(SerialPortDescription::SimulatedPortsVariable,
            QStringLiteral("%1=0B00:0060,%2=0403:6001").arg(present, missing).toLocal8Bit());
    const QList<SerialPortDescription> ports = SerialPortDescription::availablePorts();
    qunsetenv(SerialPortDescription::SimulatedPortsVariable);

    int found = 0;
    for (const SerialPortDescription& port : ports) {
        QVERIFY(port.systemLocation() != missing);
        if (port.systemLocation() == present) {
            ++found;
            QCOMPARE(port.vendorIdentifier(), 0x0B00);
        }
    }
    QCOMPARE(found, 1);
    // Without the variable, no simulated port is left.
    for (const SerialPortDescription& port : SerialPortDescription::availablePorts())
        QVERIFY(!port.isSimulated());
}

QLK_TEST_MAIN_CORE(TestSerialPortDescription)
#include "tst_serialportdescription.moc"

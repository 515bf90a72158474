// Serial port descriptions: simulated ports from the environment (their
// discovery is tested with Tpa::state).

#include "support/TestMain.h"
#include "terminals/SerialPortDescription.h"

class TestSerialPortDescription : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QStringList>("ports"); // path=vendor:product, in hex
        QTest::addColumn<int>("errors");

        QTest::newRow("one") << "/dev/pts/5=0B00:0060" << QStringList{"/dev/pts/5=b00:60"} << 0;
        QTest::newRow("two, spaces, 0x and lower case")
            << " /tmp/a=0x0403:6001 , /tmp/b=1e0e:9001" << QStringList{"/tmp/a=403:6001", "/tmp/b=1e0e:9001"} << 0;
        QTest::newRow("equals sign in the path") << "/tmp/x=y=079B:0028" << QStringList{"/tmp/x=y=79b:28"} << 0;
        QTest::newRow("malformed entries skipped")
            << "/tmp/a=0B00,/tmp/b=GGGG:0001,=0B00:0001,/tmp/c=12345:1,/tmp/d=0B00:0001" << QStringList{"/tmp/d=b00:1"}
            << 4;
        QTest::newRow("duplicate path") << "/tmp/a=0B00:0001,/tmp/a=0403:0001" << QStringList{"/tmp/a=b00:1"} << 1;
        QTest::newRow("empty") << "" << QStringList{} << 0;
    }

    void parse()
    {
        QFETCH(QString, list);
        QStringList messages;
        QStringList ports;
        for (const SerialPortDescription& port : SerialPortDescription::parseSimulatedPorts(list, &messages)) {
            QVERIFY(port.isSimulated() && port.hasVendorIdentifier());
            QCOMPARE(port.portName(), port.systemLocation());
            ports << QStringLiteral("%1=%2:%3")
                         .arg(port.systemLocation())
                         .arg(port.vendorIdentifier(), 0, 16)
                         .arg(port.productIdentifier(), 0, 16);
        }
        QTEST(ports, "ports");
        QTEST(messages.size(), "errors");
    }
};

QLK_TEST_MAIN_CORE(TestSerialPortDescription)
#include "tst_serialportdescription.moc"

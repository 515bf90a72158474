#include "support/CupsQueue.h"
#include "support/TestMain.h"

#include "printing/Printer.h"

#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>

#include <functional>
#include <memory>

namespace {

const char readAvailableOption[] = "--read-available";

// Port 9 (discard): these queues never print.
std::unique_ptr<CupsQueue> makeQueue(const QString& name)
{
    return std::make_unique<CupsQueue>(name, QStringLiteral("socket://127.0.0.1:9"));
}

// A queue name, unique to this run, whose settings identifier passes the check.
QString findQueueName(const std::function<bool(const QString&)>& idMatches)
{
    for (;;) {
        const QString name = CupsQueue::uniqueName(QStringLiteral("qlk-printer"));
        if (idMatches(Printer::settingsId(name)))
            return name;
    }
}

// What a fresh start of the program finds for the printer: the switch as read
// by another process from the settings on disk.
QString availableAfterRestart(const QString& printerName)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QLatin1String(readAvailableOption), printerName});
    if (!child.waitForFinished(30000))
        return QStringLiteral("no answer");
    return QString::fromLatin1(child.readAllStandardOutput()).trimmed();
}

} // namespace

class TestPrinter : public QObject
{
    Q_OBJECT

private slots:
    void settingsId_data();
    void settingsId();
    void switchSurvivesRestart_data();
    void switchSurvivesRestart();
    void stateFollowsQueue();
};

void TestPrinter::settingsId_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("id");
    // Expected values from Python: base64(sha1(name.encode("latin-1"))).
    QTest::newRow("ascii") << QStringLiteral("EPSON TM-T20II") << QStringLiteral("QRGMxiEcOhaiRWqSpYMCqU/w7q8=");
    QTest::newRow("latin-1, not utf-8") << QStringLiteral("Impressora Balc\u00E3o")
                                        << QStringLiteral("yERC/pc+BHOXuKBaj89zI6za/I0=");
    QTest::newRow("euro sign is outside latin-1")
        << QStringLiteral("Caixa \u20AC") << QStringLiteral("lbhZoXRh4ZiqzDhdRWS00/gUuYc=");
    QTest::newRow("empty") << QString() << QStringLiteral("2jmj7l5rSw0yVb/vlWAYkK/YBwk=");
}

void TestPrinter::settingsId()
{
    QFETCH(QString, name);
    QFETCH(QString, id);
    QCOMPARE(Printer::settingsId(name), id);
    QCOMPARE(Printer::settingsKey(name), QStringLiteral("printers/") + id);
}

void TestPrinter::switchSurvivesRestart_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("a slash") << findQueueName([](const QString& id) { return id.count(QLatin1Char('/')) == 1; });
    QTest::newRow("leading slash") << findQueueName([](const QString& id) { return id.startsWith(QLatin1Char('/')); });
    QTest::newRow("two slashes in a row")
        << findQueueName([](const QString& id) { return id.contains(QLatin1String("//")); });
}

void TestPrinter::switchSurvivesRestart()
{
    QLK_REQUIRE_CUPS();
    QFETCH(QString, name);
    const auto queue = makeQueue(name);
    QVERIFY2(queue->isValid(), qPrintable(queue->errorString()));

    // Never seen before: off, and nothing stored until the user flips the switch.
    Printer printer(QPrinterInfo::printerInfo(name));
    QCOMPARE(printer.name(), name);
    QVERIFY(!printer.available());
    QVERIFY(!QSettings().contains(Printer::settingsKey(name)));
    QCOMPARE(availableAfterRestart(name), QStringLiteral("false"));

    printer.setAvailable(true);
    QVERIFY(printer.available());
    QCOMPARE(availableAfterRestart(name), QStringLiteral("true"));
    printer.setAvailable(false);
    QCOMPARE(availableAfterRestart(name), QStringLiteral("false"));

    // Take the store away behind the program's back: only a real write of the
    // unchanged value, synced, brings the switch back to disk.
    printer.setAvailable(true);
    QVERIFY(QFile::remove(QSettings().fileName()));
    QSignalSpy changed(&printer, &Printer::availableChanged);
    printer.setAvailable(true);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(availableAfterRestart(name), QStringLiteral("true"));
}

void TestPrinter::stateFollowsQueue()
{
    QLK_REQUIRE_CUPS();
    auto queue = makeQueue(CupsQueue::uniqueName(QStringLiteral("qlk-printer")));
    QVERIFY2(queue->isValid(), qPrintable(queue->errorString()));
    Printer printer(QPrinterInfo::printerInfo(queue->name()));
    QVERIFY(printer.state());

    QVERIFY2(queue->disable(), qPrintable(queue->errorString()));
    QVERIFY(!printer.state());
    QVERIFY2(queue->enable(), qPrintable(queue->errorString()));
    QVERIFY(printer.state());

    // Removed from the system while the list still holds it: not ready.
    queue.reset();
    QVERIFY(!printer.state());
}

// Run as a child with --read-available NAME, the program starts afresh on the
// parent's settings (same XDG_CONFIG_HOME) and prints the printer's switch.
static int readAvailable(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("Quorva"));
    app.setApplicationName(QStringLiteral("QuorvaLink"));
    printf("%s\n", Printer(QPrinterInfo::printerInfo(QString::fromLocal8Bit(argv[2]))).available() ? "true" : "false");
    return 0;
}

int main(int argc, char* argv[])
{
    if (argc == 3 && qstrcmp(argv[1], readAvailableOption) == 0)
        return readAvailable(argc, argv);
    TestMain::isolateSettings();
    QCoreApplication app(argc, argv);
    TestPrinter tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_printer.moc"

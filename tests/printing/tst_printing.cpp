// Printing through a real CUPS scheduler to a capture printer behind a raw queue.

#include "support/CapturePrinter.h"
#include "support/CupsRefusingSpooler.h"
#include "support/RenderSupport.h"
#include "support/TestMain.h"

#include "printing/NativeESCFakeSocket.h"
#include "printing/PrintJob.h"
#include "printing/Printer.h"

#include <cups/cups.h>

namespace {

const char readAvailableOption[] = "--read-available";

// What a fresh start of the program finds for the printer: the switch read by another process.
QString availableAfterRestart(const QString& printerName)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QLatin1String(readAvailableOption), printerName});
    return child.waitForFinished(30000) ? QString::fromLatin1(child.readAllStandardOutput()).trimmed() : "no answer";
}

// Text, a grey logo (dithered into a pattern) and a cut.
QJsonArray receipt()
{
    QJsonArray job = RenderSupport::job(R"([{"op":"alignment","data":1},{"op":"style","data":{"emphasized":true}},
        {"op":"text","data":"Quorva Link\n"},{"op":"image"},{"op":"text","data":"Balcão 1: total 12,50\n"},
        {"op":"cut","data":"feed"}])");
    const QImage logo = RenderSupport::filled(40, 24, qRgb(128, 128, 128));
    job[3] = QJsonObject{{"op", "image"}, {"data", "data:image/png;base64," + RenderSupport::pngBase64(logo)}};
    return job;
}

} // namespace

class TestPrinting : public QObject
{
    Q_OBJECT

    std::unique_ptr<CapturePrinter> m_printer;

private slots:
    void initTestCase()
    {
        QLK_REQUIRE_CUPS();
        m_printer = std::make_unique<CapturePrinter>();
        QVERIFY2(m_printer->isValid(), qPrintable(m_printer->errorString()));
    }
    void cleanup() { Spooler::setFactory({}); }

    void receiptReachesPrinter()
    {
        const QByteArray expected = RenderSupport::render(receipt());
        QVERIFY(expected.contains("\x1B\x2A")); // ESC *: bit image; the comparison below means something
        const int jobsBefore = m_printer->jobs().size();
        QVERIFY(PrintJob(receipt(), m_printer->queueName(), false).print());
        QVERIFY(m_printer->waitForJobs(jobsBefore + 1));
        QCOMPARE(m_printer->jobs().mid(jobsBefore), QList<QByteArray>{expected});
    }

    // An empty chunk would end CUPS's document stream early; a second start must not orphan the first.
    void deviceDocument()
    {
        QByteArray everyByte;
        for (int i = 0; i < 256; ++i)
            everyByte += char(i);
        const QList<QByteArray> writes{"\x1B@", QByteArray(), everyByte, "\x1D\x56\x42\x0A"};
        const int jobsBefore = m_printer->jobs().size();
        const int queuedBefore = m_printer->queue().jobs().size();
        {
            NativeESCFakeSocket device;
            QVERIFY(device.setPrinter(m_printer->queueName()));
            QVERIFY(device.startDocument() && device.startDocument());
            for (const QByteArray& bytes : writes)
                QCOMPARE(device.write(bytes), qint64(bytes.size()));
            device.endDocument();
            QVERIFY(!device.failed());
        }
        QVERIFY(m_printer->waitForJobs(jobsBefore + 1));
        QCOMPARE(m_printer->jobs().mid(jobsBefore), QList<QByteArray>{writes.join()});
        QCOMPARE(m_printer->queue().jobs().size(), queuedBefore + 1);
    }

    // A write the spooler refuses part-way cancels the document: no half receipt, and the job says so.
    void refusedWriteFailsJob()
    {
        QVERIFY(!NativeESCFakeSocket().setPrinter(m_printer->queueName() + "-not-installed"));
        QList<int> jobIds;
        Spooler::setFactory(CupsRefusingSpooler::factory(4, &jobIds));
        const int jobsBefore = m_printer->jobs().size();
        QVERIFY(!PrintJob(receipt(), m_printer->queueName(), false).print());
        QCOMPARE(jobIds.size(), 1);
        QCOMPARE(m_printer->queue().jobState(jobIds.first()), int(IPP_JOB_CANCELED));

        // Jobs print in order: once the next receipt is in, nothing of the failed one came.
        Spooler::setFactory({});
        const QJsonArray next = RenderSupport::job(R"([{"op":"text","data":"next receipt\n"}])");
        QVERIFY(PrintJob(next, m_printer->queueName(), false).print());
        QVERIFY(m_printer->waitForJobs(jobsBefore + 1));
        QCOMPARE(m_printer->jobs().mid(jobsBefore), QList<QByteArray>{RenderSupport::render(next)});
    }

    // Stored under the Base64 SHA-1 of the Latin-1 name, whose slashes are groups to QSettings.
    void switchSurvivesRestart()
    {
        QCOMPARE(Printer::settingsId(QStringLiteral("Impressora Balc\u00E3o")), "yERC/pc+BHOXuKBaj89zI6za/I0=");
        QCOMPARE(Printer::settingsId(QStringLiteral("Caixa \u20AC")), "lbhZoXRh4ZiqzDhdRWS00/gUuYc=");
        QString name;
        do
            name = CupsQueue::uniqueName(QStringLiteral("qlk-printer"));
        while (!Printer::settingsId(name).contains("//"));
        CupsQueue queue(name, QStringLiteral("socket://127.0.0.1:9")); // port 9 (discard): never printed to
        QVERIFY2(queue.isValid(), qPrintable(queue.errorString()));

        Printer printer(name);
        QVERIFY(!printer.available()); // never seen before: off, and nothing stored
        QVERIFY(!QSettings().contains(Printer::settingsKey(name)));
        printer.setAvailable(true);
        QCOMPARE(availableAfterRestart(name), QStringLiteral("true"));
        printer.setAvailable(false);
        QCOMPARE(availableAfterRestart(name), QStringLiteral("false"));
    }
};

// As a child with --read-available NAME: a fresh start on the parent's settings prints the switch.
int main(int argc, char* argv[])
{
    if (argc == 3 && qstrcmp(argv[1], readAvailableOption) == 0) {
        QCoreApplication app(argc, argv);
        app.setOrganizationName(QStringLiteral("Quorva"));
        app.setApplicationName(QStringLiteral("QuorvaLink"));
        printf("%s\n", Printer(QString::fromLocal8Bit(argv[2])).available() ? "true" : "false");
        return 0;
    }
    TestMain::isolateSettings();
    QApplication app(argc, argv);
    TestPrinting tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_printing.moc"

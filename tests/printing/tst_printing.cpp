// Printing through a real CUPS scheduler to a capture printer behind a raw queue.

#include "support/CapturePrinter.h"
#include "support/CupsRefusingSpooler.h"
#include "support/RenderSupport.h"
#include "support/TestMain.h"

#include "printing/NativeESCFakeSocket.h"
#include "printing/PrintJob.h"
#include "printing/Printer.h"

#include <cups/cups.h>

static const char readAvailableOption[] = "--read-available";

class TestPrinting : public QObject, public RenderSupport
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

    // An empty chunk would end CUPS's document stream early; a second start must not orphan the first.
    void deviceDocument()
    {
        QByteArray everyByte;
        for (int i = 0; i < 256; ++i)
            everyByte += char(i);
        const QList<QByteArray> writes{"\x1B@", QByteArray(), everyByte, "\x1D\x56\x42\x0A"};
        const int jobsBefore = m_printer->jobs().size(), queuedBefore = m_printer->queue().jobs().size();
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
        // Text, a grey logo (dithered into a pattern) and a cut.
        QJsonArray receipt = job(R"([{"op":"alignment","data":1},{"op":"text","data":"Quorva Link\n"},
            {"op":"text","data":"Balcão 1: total 12,50\n"},{"op":"cut","data":"feed"}])");
        const QString logo = "data:image/png;base64," + pngBase64(filled(40, 24, qRgb(128, 128, 128)));
        receipt.insert(2, QJsonObject{{"op", "image"}, {"data", logo}});
        const int jobsBefore = m_printer->jobs().size();
        QVERIFY(!PrintJob(receipt, m_printer->queueName(), false).print());
        QCOMPARE(jobIds.size(), 1);
        QCOMPARE(m_printer->queue().jobState(jobIds.first()), int(IPP_JOB_CANCELED));

        // Jobs print in order: once the next receipt is in, nothing of the failed one came.
        Spooler::setFactory({});
        QVERIFY(PrintJob(receipt, m_printer->queueName(), false).print());
        QVERIFY(m_printer->waitForJobs(jobsBefore + 1));
        QCOMPARE(m_printer->jobs().mid(jobsBefore), QList<QByteArray>{render(receipt)});
    }

    // Stored under the Base64 SHA-1 of the Latin-1 name, whose slashes are groups to QSettings.
    void switchSurvivesRestart()
    {
        QCOMPARE(Printer::settingsId(QStringLiteral("Impressora Balc\u00E3o")), "yERC/pc+BHOXuKBaj89zI6za/I0=");
        QCOMPARE(Printer::settingsId(QStringLiteral("Caixa \u20AC")), "lbhZoXRh4ZiqzDhdRWS00/gUuYc=");
        QString name;
        for (int tries = 0; tries < 100000 && !Printer::settingsId(name).contains("//"); ++tries)
            name = CupsQueue::uniqueName(QStringLiteral("qlk-printer"));
        CupsQueue queue(name, QStringLiteral("socket://127.0.0.1:9")); // port 9 (discard): never printed to
        QVERIFY2(queue.isValid(), qPrintable(queue.errorString()));
        // What a fresh start of the program finds for the printer: the switch read by another process.
        const auto afterRestart = [&] {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), {readAvailableOption, name});
            return child.waitForFinished(30000) ? QString(child.readAllStandardOutput()).trimmed() : "no answer";
        };
        Printer printer(name);
        QVERIFY(!printer.available()); // never seen before: off, and nothing stored
        printer.setAvailable(true);
        QCOMPARE(afterRestart(), "true");
        printer.setAvailable(false);
        QCOMPARE(afterRestart(), "false");
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

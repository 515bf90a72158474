#include "support/CapturePrinter.h"
#include "support/CupsQueue.h"
#include "support/CupsRefusingSpooler.h"
#include "support/RenderSupport.h"
#include "support/TestMain.h"

#include "printing/PrintJob.h"
#include "printing/Spooler.h"

#include <QJsonObject>

#include <cups/cups.h>

#include <memory>

namespace {

// Text, a grey logo (dithered into a pattern) and a cut.
QJsonArray receipt()
{
    const QImage logo = RenderSupport::filled(40, 24, qRgb(128, 128, 128));
    QJsonArray job = RenderSupport::job(R"([{"op":"alignment","data":1},{"op":"style","data":{"emphasized":true}},
        {"op":"text","data":"Quorva Link\n"},{"op":"image"},{"op":"text","data":"Balcão 1: total 12,50\n"},
        {"op":"cut","data":"feed"}])");
    job[3] = QJsonObject{{"op", "image"}, {"data", "data:image/png;base64," + RenderSupport::pngBase64(logo)}};
    return job;
}

} // namespace

class TestPrintJobSpooling : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { Spooler::setFactory({}); }
    void receiptReachesPrinter_data();
    void receiptReachesPrinter();
    void unreadyPrinterGetsNoJob_data();
    void unreadyPrinterGetsNoJob();
    void refusedWriteFailsJob_data();
    void refusedWriteFailsJob();

private:
    std::unique_ptr<CapturePrinter> m_printer;
};

void TestPrintJobSpooling::initTestCase()
{
    QLK_REQUIRE_CUPS();
    m_printer = std::make_unique<CapturePrinter>();
    QVERIFY2(m_printer->isValid(), qPrintable(m_printer->errorString()));
}

void TestPrintJobSpooling::receiptReachesPrinter_data()
{
    QTest::addColumn<bool>("compatibilityMode");
    QTest::newRow("normal") << false;
    QTest::newRow("compatibility mode") << true;
}

void TestPrintJobSpooling::receiptReachesPrinter()
{
    QFETCH(bool, compatibilityMode);
    const QByteArray expected = RenderSupport::render(receipt(), compatibilityMode);
    // The receipt really holds an image and a cut, so the comparison means something.
    QVERIFY(expected.contains("\x1B\x2A"));                        // ESC *: bit image
    QVERIFY(expected.endsWith(QByteArray("\x1D\x56\x42\x0A", 4))); // GS V B n: feed and partial cut

    const int jobsBefore = m_printer->jobs().size();
    const int queuedBefore = m_printer->queue().jobs().size();
    QVERIFY(PrintJob(receipt(), m_printer->queueName(), compatibilityMode).print());
    QVERIFY(m_printer->waitForJobs(jobsBefore + 1));
    QCOMPARE(m_printer->jobs().mid(jobsBefore), QList<QByteArray>{expected});
    QCOMPARE(m_printer->queue().jobs().size(), queuedBefore + 1);
}

void TestPrintJobSpooling::unreadyPrinterGetsNoJob_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("queue stopped with cupsdisable") << "cupsdisable";
    QTest::newRow("queue refusing jobs with cupsreject") << "cupsreject";
    QTest::newRow("printer not installed") << "missing";
}

void TestPrintJobSpooling::unreadyPrinterGetsNoJob()
{
    QFETCH(QString, fault);
    // Port 9 (discard): nothing may ever be sent there anyway.
    CupsQueue queue(CupsQueue::uniqueName(QStringLiteral("qlk-stopped")), QStringLiteral("socket://127.0.0.1:9"));
    QVERIFY2(queue.isValid(), qPrintable(queue.errorString()));
    QString error;
    const bool missing = fault == QLatin1String("missing");
    if (!missing)
        QVERIFY2(CupsQueue::run(fault, {queue.name()}, &error), qPrintable(error));
    const QString name = missing ? queue.name() + QStringLiteral("-missing") : queue.name();
    QVERIFY(!PrintJob(receipt(), name, false).print());
    QCOMPARE(queue.jobs().size(), 0);
}

void TestPrintJobSpooling::refusedWriteFailsJob_data()
{
    QTest::addColumn<int>("refusedWrite");
    QTest::newRow("first write") << 1;
    QTest::newRow("part-way") << 4;
}

void TestPrintJobSpooling::refusedWriteFailsJob()
{
    QFETCH(int, refusedWrite);
    QList<int> jobIds;
    Spooler::setFactory(CupsRefusingSpooler::factory(refusedWrite, &jobIds));
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

QLK_TEST_MAIN(TestPrintJobSpooling)
#include "tst_printjobspooling.moc"

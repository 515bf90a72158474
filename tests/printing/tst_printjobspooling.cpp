#include "support/CapturePrinter.h"
#include "support/CupsQueue.h"
#include "support/CupsRefusingSpooler.h"
#include "support/TestMain.h"

#include "printing/PrintJob.h"
#include "printing/Spooler.h"

#include <QBuffer>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>

#include <cups/cups.h>

#include <memory>

namespace {

QJsonObject operation(const QString& op, const QJsonValue& data)
{
    return QJsonObject{{QStringLiteral("op"), op}, {QStringLiteral("data"), data}};
}

// A small logo with black, white, grey and transparent parts, as a data URL.
QString logoDataUrl()
{
    QImage image(40, 24, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y,
                           x < 10   ? qRgba(0, 0, 0, 255)
                           : x < 20 ? qRgba(128, 128, 128, 255)
                           : x < 30 ? qRgba(0, 0, 0, 0)
                                    : qRgba(255, 255, 255, 255));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64());
}

QJsonArray receipt()
{
    return QJsonArray{
        operation(QStringLiteral("alignment"), 1),
        operation(QStringLiteral("style"), QJsonObject{{QStringLiteral("emphasized"), true}}),
        operation(QStringLiteral("text"), QStringLiteral("Quorva Link\n")),
        operation(QStringLiteral("image"), logoDataUrl()),
        operation(QStringLiteral("text"), QStringLiteral("Balc\u00E3o 1: total 12,50\n")),
        operation(QStringLiteral("cut"), QStringLiteral("feed")),
    };
}

QByteArray rendered(const QJsonArray& job, bool compatibilityMode)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    PrintJob(job, QStringLiteral("memory"), compatibilityMode).render(&buffer);
    return bytes;
}

} // namespace

class TestPrintJobSpooling : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void receiptReachesPrinter_data();
    void receiptReachesPrinter();
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

void TestPrintJobSpooling::cleanup()
{
    Spooler::setFactory({});
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
    const QByteArray expected = rendered(receipt(), compatibilityMode);
    // The receipt really holds an image and a cut, so the comparison means something.
    QVERIFY(expected.contains(QByteArray("\x1B\x2A", 2)));         // ESC *: bit image
    QVERIFY(expected.endsWith(QByteArray("\x1D\x56\x42\x0A", 4))); // GS V B n: feed and partial cut

    const int jobsBefore = m_printer->jobs().size();
    const int queuedBefore = m_printer->queue().jobs().size();
    PrintJob job(receipt(), m_printer->queueName(), compatibilityMode);
    QVERIFY(job.print());

    QVERIFY(m_printer->waitForJobs(jobsBefore + 1));
    QCOMPARE(m_printer->jobs().size(), jobsBefore + 1);
    QCOMPARE(m_printer->jobs().last(), expected);
    QCOMPARE(m_printer->queue().jobs().size(), queuedBefore + 1);
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

    PrintJob failing(receipt(), m_printer->queueName(), false);
    QVERIFY(!failing.print());
    QCOMPARE(jobIds.size(), 1);
    QCOMPARE(m_printer->queue().jobState(jobIds.first()), int(IPP_JOB_CANCELED));

    // Jobs print in order: once the next receipt is in, nothing of the failed one came.
    Spooler::setFactory({});
    const QJsonArray next{operation(QStringLiteral("text"), QStringLiteral("next receipt\n"))};
    PrintJob good(next, m_printer->queueName(), false);
    QVERIFY(good.print());
    QVERIFY(m_printer->waitForJobs(jobsBefore + 1));
    QCOMPARE(m_printer->jobs().mid(jobsBefore), QList<QByteArray>{rendered(next, false)});
}

QLK_TEST_MAIN(TestPrintJobSpooling)
#include "tst_printjobspooling.moc"

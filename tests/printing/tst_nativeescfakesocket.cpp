#include "support/CapturePrinter.h"
#include "support/CupsQueue.h"
#include "support/TestMain.h"

#include "printing/NativeESCFakeSocket.h"

#include <cups/cups.h>

#include <memory>

class TestNativeEscFakeSocket : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void documentReachesQueue_data();
    void documentReachesQueue();
    void abandonedDocumentIsCancelled();

private:
    std::unique_ptr<CapturePrinter> m_printer;
};

void TestNativeEscFakeSocket::initTestCase()
{
    QLK_REQUIRE_CUPS();
    m_printer = std::make_unique<CapturePrinter>();
    QVERIFY2(m_printer->isValid(), qPrintable(m_printer->errorString()));
}

void TestNativeEscFakeSocket::documentReachesQueue_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");
    QTest::addColumn<int>("starts");     // explicit startDocument calls; a second one belongs to the same document
    QTest::addColumn<int>("closeAfter"); // close() after this many writes; -1 never

    QByteArray everyByte(256, '\0');
    for (int i = 0; i < everyByte.size(); ++i)
        everyByte[i] = char(i);
    // About a full-width raster image: larger than any socket buffer.
    const QByteArray large = everyByte.repeated(1200);
    const QByteArray init("\x1B\x40", 2);        // ESC @: initialise printer
    const QByteArray cut("\x1D\x56\x42\x0A", 4); // GS V B n: feed and partial cut
    QTest::newRow("every byte value, an empty write between")
        << QList<QByteArray>{init, QByteArray(), everyByte, cut} << 2 << -1;
    QTest::newRow("large write") << QList<QByteArray>{init, large, cut} << 1 << -1;
    QTest::newRow("first write starts the document") << QList<QByteArray>{init, "abc\n"} << 0 << -1;
    QTest::newRow("close between writes") << QList<QByteArray>{init, "before close\n", "after close\n", cut} << 1 << 2;
}

void TestNativeEscFakeSocket::documentReachesQueue()
{
    QFETCH(QList<QByteArray>, writes);
    QFETCH(int, starts);
    QFETCH(int, closeAfter);
    const int jobsBefore = m_printer->jobs().size();
    const int queuedBefore = m_printer->queue().jobs().size();
    {
        NativeESCFakeSocket device;
        QVERIFY(device.setPrinter(m_printer->queueName()));
        for (int i = 0; i < starts; ++i)
            QVERIFY(device.startDocument());
        for (int i = 0; i < writes.size(); ++i) {
            QCOMPARE(device.write(writes.at(i)), qint64(writes.at(i).size()));
            if (i + 1 == closeAfter)
                device.close();
        }
        device.endDocument();
        QVERIFY(!device.failed());
    }
    QVERIFY(m_printer->waitForJobs(jobsBefore + 1));
    QCOMPARE(m_printer->jobs().size(), jobsBefore + 1);
    QCOMPARE(m_printer->jobs().last(), writes.join());

    const QList<CupsQueue::Job> queued = m_printer->queue().jobs();
    QCOMPARE(queued.size(), queuedBefore + 1);
    QCOMPARE(queued.last().title, QStringLiteral("PRN COMMNAD"));
    QCOMPARE(queued.last().format, QStringLiteral(CUPS_FORMAT_RAW));
    QTRY_COMPARE_WITH_TIMEOUT(m_printer->queue().jobState(queued.last().id), int(IPP_JOB_COMPLETED), 30000);
}

// A device that goes before its document ends leaves no half receipt behind: its
// job is cancelled, and the next document is a job of its own.
void TestNativeEscFakeSocket::abandonedDocumentIsCancelled()
{
    const int jobsBefore = m_printer->jobs().size();
    const int queuedBefore = m_printer->queue().jobs().size();
    int abandonedId = 0;
    {
        NativeESCFakeSocket device;
        QVERIFY(device.setPrinter(m_printer->queueName()));
        QVERIFY(device.startDocument());
        device.write("\x1B@half a receipt\n");
        const QList<CupsQueue::Job> queued = m_printer->queue().jobs();
        QVERIFY(!queued.isEmpty());
        abandonedId = queued.last().id;
    }
    QCOMPARE(m_printer->queue().jobState(abandonedId), int(IPP_JOB_CANCELED));

    // CUPS prints a queue's jobs in order: once the next document is in, anything
    // of the cancelled one would have arrived before it.
    const QByteArray next("\x1B@next receipt\n");
    NativeESCFakeSocket device;
    QVERIFY(device.setPrinter(m_printer->queueName()));
    device.write(next);
    device.endDocument();
    QVERIFY(m_printer->waitForJobs(jobsBefore + 1));
    QCOMPARE(m_printer->jobs().mid(jobsBefore), QList<QByteArray>{next});
    QCOMPARE(m_printer->queue().jobs().size(), queuedBefore + 2);
}

QLK_TEST_MAIN_CORE(TestNativeEscFakeSocket)
#include "tst_nativeescfakesocket.moc"

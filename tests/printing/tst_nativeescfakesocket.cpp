#include "support/CapturePrinter.h"
#include "support/CupsQueue.h"
#include "support/CupsRefusingSpooler.h"
#include "support/TestMain.h"

#include "printing/NativeESCFakeSocket.h"
#include "printing/Spooler.h"

#include <cups/cups.h>

#include <memory>

namespace {

QByteArray allByteValues()
{
    QByteArray bytes;
    for (int value = 0; value < 256; ++value)
        bytes.append(static_cast<char>(value));
    return bytes;
}

// About the size of a full-width raster image; larger than any socket buffer.
QByteArray largeBlock()
{
    QByteArray bytes(300000, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return bytes;
}

QByteArray joined(const QList<QByteArray>& parts)
{
    QByteArray all;
    for (const QByteArray& part : parts)
        all.append(part);
    return all;
}

} // namespace

class TestNativeEscFakeSocket : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void documentReachesQueue_data();
    void documentReachesQueue();
    void documentsAreSeparateJobs();
    void unreadyPrinterGetsNoJob_data();
    void unreadyPrinterGetsNoJob();
    void unfinishedDocumentIsCancelled_data();
    void unfinishedDocumentIsCancelled();

private:
    std::unique_ptr<CapturePrinter> m_printer;
};

void TestNativeEscFakeSocket::initTestCase()
{
    QLK_REQUIRE_CUPS();
    m_printer = std::make_unique<CapturePrinter>();
    QVERIFY2(m_printer->isValid(), qPrintable(m_printer->errorString()));
}

void TestNativeEscFakeSocket::cleanup()
{
    Spooler::setFactory({});
}

void TestNativeEscFakeSocket::documentReachesQueue_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");
    QTest::addColumn<bool>("startExplicitly");
    QTest::addColumn<int>("closeAfter"); // close() after this many writes; -1 never

    const QByteArray init("\x1B\x40", 2);        // ESC @: initialise printer
    const QByteArray cut("\x1D\x56\x42\x0A", 4); // GS V B n: feed and partial cut
    QTest::newRow("one write") << QList<QByteArray>{init + "hello\n"} << true << -1;
    QTest::newRow("every byte value, an empty write between")
        << QList<QByteArray>{init, QByteArray(), allByteValues(), "\n", cut} << true << -1;
    QTest::newRow("large write") << QList<QByteArray>{init, largeBlock(), cut} << true << -1;
    QTest::newRow("first write starts the document") << QList<QByteArray>{init, "abc\n"} << false << -1;
    QTest::newRow("close between writes")
        << QList<QByteArray>{init, "before close\n", "after close\n", cut} << true << 2;
}

void TestNativeEscFakeSocket::documentReachesQueue()
{
    QFETCH(QList<QByteArray>, writes);
    QFETCH(bool, startExplicitly);
    QFETCH(int, closeAfter);

    const int jobsBefore = m_printer->jobs().size();
    const int queuedBefore = m_printer->queue().jobs().size();
    {
        NativeESCFakeSocket device;
        QVERIFY(device.setPrinter(m_printer->queueName()));
        QVERIFY(device.isOpen());
        if (startExplicitly)
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
    QCOMPARE(m_printer->jobs().last(), joined(writes));

    const QList<CupsQueue::Job> queued = m_printer->queue().jobs();
    QCOMPARE(queued.size(), queuedBefore + 1);
    QCOMPARE(queued.last().title, QStringLiteral("PRN COMMNAD"));
    QCOMPARE(queued.last().format, QStringLiteral(CUPS_FORMAT_RAW));
    const int id = queued.last().id;
    QTRY_COMPARE_WITH_TIMEOUT(m_printer->queue().jobState(id), int(IPP_JOB_COMPLETED), 30000);
}

void TestNativeEscFakeSocket::documentsAreSeparateJobs()
{
    const int jobsBefore = m_printer->jobs().size();
    const int queuedBefore = m_printer->queue().jobs().size();
    const QList<QByteArray> documents{QByteArray("\x1B\x40") + "first receipt\n",
                                      QByteArray("\x1B\x40") + "second receipt\n"};
    for (const QByteArray& document : documents) {
        NativeESCFakeSocket device;
        QVERIFY(device.setPrinter(m_printer->queueName()));
        QVERIFY(device.startDocument());
        // A second start belongs to the same document.
        QVERIFY(device.startDocument());
        device.write(document.left(4));
        device.write(document.mid(4));
        device.endDocument();
    }
    QVERIFY(m_printer->waitForJobs(jobsBefore + 2));
    QCOMPARE(m_printer->jobs().mid(jobsBefore), documents);
    QCOMPARE(m_printer->queue().jobs().size(), queuedBefore + 2);
}

void TestNativeEscFakeSocket::unreadyPrinterGetsNoJob_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("ready"); // what setPrinter says
    QTest::newRow("queue stopped with cupsdisable") << "cupsdisable" << false;
    QTest::newRow("printer not installed") << "missing" << false;
    QTest::newRow("queue refusing jobs with cupsreject") << "cupsreject" << true;
}

void TestNativeEscFakeSocket::unreadyPrinterGetsNoJob()
{
    QFETCH(QString, fault);
    QFETCH(bool, ready);

    // Port 9 (discard): nothing may ever be sent there anyway.
    CupsQueue queue(CupsQueue::uniqueName(QStringLiteral("qlk-stopped")), QStringLiteral("socket://127.0.0.1:9"));
    QVERIFY2(queue.isValid(), qPrintable(queue.errorString()));
    QString error;
    if (fault != QLatin1String("missing"))
        QVERIFY2(CupsQueue::run(fault, {queue.name()}, &error), qPrintable(error));
    const QString name = fault == QLatin1String("missing") ? queue.name() + QStringLiteral("-missing") : queue.name();

    NativeESCFakeSocket device;
    QCOMPARE(device.setPrinter(name), ready);
    QCOMPARE(device.isOpen(), ready);
    if (ready) {
        QVERIFY(!device.startDocument());
        // The write tries to open the document again and is refused as well.
        QCOMPARE(device.write("\x1B\x40"
                              "lost\n"),
                 qint64(0));
        QVERIFY(device.failed());
    } else {
        // The job walks on; its bytes go nowhere.
        QTest::ignoreMessage(QtWarningMsg, "QIODevice::write (NativeESCFakeSocket): device not open");
        device.write("\x1B\x40"
                     "lost\n");
    }
    device.endDocument();
    QCOMPARE(queue.jobs().size(), 0);

    if (fault == QLatin1String("cupsdisable")) {
        QVERIFY2(queue.enable(), qPrintable(queue.errorString()));
        NativeESCFakeSocket again;
        QVERIFY(again.setPrinter(name));
    }
}

void TestNativeEscFakeSocket::unfinishedDocumentIsCancelled_data()
{
    QTest::addColumn<int>("refusedWrite"); // 0: none refused, the device dies before the end
    QTest::addColumn<int>("writes");
    QTest::newRow("first write refused") << 1 << 3;
    QTest::newRow("third write refused") << 3 << 4;
    QTest::newRow("device destroyed before the end") << 0 << 2;
}

void TestNativeEscFakeSocket::unfinishedDocumentIsCancelled()
{
    QFETCH(int, refusedWrite);
    QFETCH(int, writes);

    QList<int> jobIds;
    Spooler::setFactory(CupsRefusingSpooler::factory(refusedWrite, &jobIds));
    const int jobsBefore = m_printer->jobs().size();
    {
        NativeESCFakeSocket device;
        QVERIFY(device.setPrinter(m_printer->queueName()));
        QVERIFY(device.startDocument());
        for (int i = 1; i <= writes; ++i) {
            const QByteArray line = QByteArray("half receipt line ") + QByteArray::number(i) + '\n';
            QCOMPARE(device.write(line), i < refusedWrite || refusedWrite == 0 ? qint64(line.size()) : qint64(0));
        }
        QCOMPARE(device.failed(), refusedWrite > 0);
        if (refusedWrite > 0)
            device.endDocument();
    }
    QCOMPARE(jobIds.size(), 1);
    QCOMPARE(m_printer->queue().jobState(jobIds.first()), int(IPP_JOB_CANCELED));

    // CUPS prints a queue's jobs in order: once the next document is in, anything
    // of the cancelled one would have arrived before it.
    Spooler::setFactory({});
    const QByteArray next("\x1B\x40"
                          "next receipt\n");
    NativeESCFakeSocket device;
    QVERIFY(device.setPrinter(m_printer->queueName()));
    QVERIFY(device.startDocument());
    device.write(next);
    device.endDocument();
    QVERIFY(m_printer->waitForJobs(jobsBefore + 1));
    QCOMPARE(m_printer->jobs().mid(jobsBefore), QList<QByteArray>{next});
}

QLK_TEST_MAIN_CORE(TestNativeEscFakeSocket)
#include "tst_nativeescfakesocket.moc"

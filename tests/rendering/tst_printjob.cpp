#include "printing/PrintJob.h"
#include "support/RenderCapturePrinter.h"
#include "support/RenderSupport.h"
#include "support/TestMain.h"

#include <QFile>
#include <QJsonObject>
#include <QUuid>

using RenderSupport::hex;
using RenderSupport::job;

namespace {

// Takes the first accepted writes, then refuses everything, as a spooler that dropped the document.
class RefusingSink : public QIODevice
{
public:
    explicit RefusingSink(int accepted)
        : m_accepted(accepted)
    {
        open(QIODevice::WriteOnly);
    }
    QByteArray data;
    int writes = 0;

protected:
    qint64 readData(char*, qint64) override { return 0; }
    qint64 writeData(const char* bytes, qint64 length) override
    {
        if (++writes > m_accepted)
            return 0;
        data.append(bytes, int(length));
        return length;
    }

private:
    int m_accepted;
};

} // namespace

class TestPrintJob : public QObject
{
    Q_OBJECT

private slots:
    void operations_data();
    void operations();
    void wrapText_data();
    void wrapText();
    void refusedWriteStopsAndFails();
    void printsThroughCups();
};

// Golden jobs: jobs.json beside this file holds each job with the bytes it must render to.
void TestPrintJob::operations_data()
{
    QTest::addColumn<bool>("compatibility");
    QTest::addColumn<QJsonArray>("operations");
    QTest::addColumn<QByteArray>("bytes");
    QFile file(QFINDTESTDATA("jobs.json"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonArray rows = QJsonDocument::fromJson(file.readAll()).array();
    QVERIFY(rows.size() >= 32);
    for (const QJsonValue& value : rows) {
        const QJsonObject row = value.toObject();
        QTest::newRow(qPrintable(row.value("name").toString()))
            << row.value("compatibility").toBool() << row.value("job").toArray()
            << hex(row.value("bytes").toString().toLatin1().constData());
    }
}

void TestPrintJob::operations()
{
    QFETCH(bool, compatibility);
    QFETCH(QJsonArray, operations);
    QFETCH(QByteArray, bytes);
    QCOMPARE(RenderSupport::render(operations, compatibility).toHex(' '), bytes.toHex(' '));
}

void TestPrintJob::wrapText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("wrapped");
    QTest::newRow("last space") << "aaaa bbbb cccc" << 10 << "aaaa bbbb\ncccc";
    QTest::newRow("hard cut") << "abcdefghijklmno" << 10 << "abcdefghij\nklmno";
    QTest::newRow("hyphen stays") << "aaa-bbbbbbbbbb" << 10 << "aaa-\nbbbbbbbbbb";
    QTest::newRow("hyphen then hard cut") << "aaa-bbbbbbbbbbbbb" << 10 << "aaa-\nbbbbbbbbbb\nbbb";
    QTest::newRow("exactly the width") << "aaaa bbbbb" << 10 << "aaaa bbbbb";
    QTest::newRow("full line before a line end") << "aaaa bbbbb\ncc" << 10 << "aaaa\nbbbbb\ncc";
    QTest::newRow("line end before last space") << "ab\ncd efgh ijk" << 10 << "ab\ncd efgh\nijk";
    QTest::newRow("leading spaces dropped") << "aaaaaaaaaa  bbbbbbbbbbbbb" << 10 << "aaaaaaaaaa\nbbbbbbbbbb\nbbb";
    QTest::newRow("space after hyphen") << "aaa- bbbbbbbbbbbb" << 10 << "aaa-\nbbbbbbbbbb\nbb";
    QTest::newRow("spaces kept when the rest fits") << "aaaaaaaaaa   bbb" << 10 << "aaaaaaaaaa\n  bbb";
    QTest::newRow("search looks before the line") << "a b cccccccccccccc" << 10 << "a b\ncccccccccc\ncccc";
    QTest::newRow("zero width does not hang") << "abc" << 0 << "a\nb\nc";
    QTest::newRow("negative width does not hang") << "ab" << -4 << "a\nb";
}

void TestPrintJob::wrapText()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(QString, wrapped);
    QCOMPARE(PrintJob::wrapText(text, width), wrapped);
}

void TestPrintJob::refusedWriteStopsAndFails()
{
    PrintJob printJob(job(R"([{"op":"alignment","data":1},{"op":"text","data":"a"},{"op":"cut","data":"x"}])"),
                      QStringLiteral("unused"), false);
    RefusingSink sink(2);
    QVERIFY(!printJob.render(&sink));
    QCOMPARE(sink.data, hex("1B 40 | 1B 61 01"));
    QCOMPARE(sink.writes, 3); // nothing more is tried once the printer said no

    RefusingSink open(100);
    QVERIFY(printJob.render(&open));
    QCOMPARE(open.data, hex("1B 40 | 1B 61 01 | 1B 74 00 61 | 1D 56 42 0A"));
}

// The real device over a CUPS raw queue whose printer is a loopback listener of this test.
void TestPrintJob::printsThroughCups()
{
    RenderCapturePrinter printer(QStringLiteral("qlk-render-") + QUuid::createUuid().toString(QUuid::Id128).left(8));
    const QString problem = printer.create();
    if (!problem.isEmpty()) {
        if (qgetenv("CI") == "true")
            QFAIL(qPrintable(problem));
        QSKIP(qPrintable(problem));
    }
    const QJsonArray operations =
        job(R"([{"op":"alignment","data":1},{"op":"text","data":"Pão\n"},{"op":"cut","data":"x"}])");
    PrintJob printJob(operations, printer.name(), false);
    QVERIFY(printJob.print());
    QTRY_COMPARE_WITH_TIMEOUT(printer.received().toHex(' '), RenderSupport::render(operations).toHex(' '), 60000);

    PrintJob missing(operations, QStringLiteral("qlk-no-such-printer"), false);
    QVERIFY(!missing.print());
    QVERIFY(printer.disable());
    PrintJob stopped(operations, printer.name(), false);
    QVERIFY(!stopped.print());
}

QLK_TEST_MAIN_CORE(TestPrintJob)
#include "tst_printjob.moc"

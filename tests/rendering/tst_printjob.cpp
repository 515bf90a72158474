#include "printing/PrintJob.h"
#include "support/RenderSupport.h"
#include "support/TestMain.h"

#include <QFile>
#include <QJsonObject>

using RenderSupport::hex;

namespace {

// Takes the first writes it is allowed, then refuses, as a spooler that dropped the document.
struct RefusingSink : QBuffer
{
    explicit RefusingSink(int accepted)
        : accepted(accepted)
    {
        open(QIODevice::WriteOnly);
    }
    int accepted;
    int writes = 0;
    qint64 writeData(const char* bytes, qint64 length) override
    {
        return ++writes > accepted ? 0 : QBuffer::writeData(bytes, length);
    }
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
    void refusedWriteStopsTheJob();
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
    QVERIFY(rows.size() >= 30);
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
    QTest::newRow("exactly the width") << "aaaa bbbbb" << 10 << "aaaa bbbbb";
    QTest::newRow("hard cut") << "abcdefghijklmno" << 10 << "abcdefghij\nklmno";
    QTest::newRow("hyphen then hard cut") << "aaa-bbbbbbbbbbbbb" << 10 << "aaa-\nbbbbbbbbbb\nbbb";
    QTest::newRow("full line before a line end") << "aaaa bbbbb\ncc" << 10 << "aaaa\nbbbbb\ncc";
    QTest::newRow("line end before last space") << "ab\ncd efgh ijk" << 10 << "ab\ncd efgh\nijk";
    QTest::newRow("leading spaces dropped") << "aaaaaaaaaa  bbbbbbbbbbbbb" << 10 << "aaaaaaaaaa\nbbbbbbbbbb\nbbb";
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

// Once the printer said no, nothing more is rendered or tried.
void TestPrintJob::refusedWriteStopsTheJob()
{
    PrintJob printJob(
        RenderSupport::job(R"([{"op":"alignment","data":1},{"op":"text","data":"a"},{"op":"cut","data":"x"}])"),
        QStringLiteral("memory"), false);
    RefusingSink sink(2);
    QVERIFY(!printJob.render(&sink));
    QCOMPARE(sink.data(), hex("1B 40 | 1B 61 01"));
    QCOMPARE(sink.writes, 3);

    RefusingSink open(100); // the same job renders afresh
    QVERIFY(printJob.render(&open));
    QCOMPARE(open.data(), hex("1B 40 | 1B 61 01 | 1B 74 00 61 | 1D 56 42 0A"));
}

QLK_TEST_MAIN_CORE(TestPrintJob)
#include "tst_printjob.moc"

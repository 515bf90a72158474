#include "printing/PrintJob.h"
#include "support/RenderCapturePrinter.h"
#include "support/RenderSupport.h"
#include "support/TestMain.h"

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
    void printerNotReady();
};

void TestPrintJob::operations_data()
{
    QTest::addColumn<bool>("compatibility");
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QByteArray>("bytes");

    const struct
    {
        const char* name;
        bool compatibility;
        const char* json;
        const char* bytes;
    } rows[] = {
        {"unknown and malformed elements", false, R"([{"op":"nope"}, 5, "text", {"data":"x"}, {"op":7}])", "1B 40"},
        {"compatibility sends no initialise", true, R"([{"op":"nope"}])", ""},
        {"cut feeds by default", false, R"([{"op":"cut","data":"full"}])", "1B 40 | 1D 56 42 0A"},
        {"cut no_feed", false, R"([{"op":"cut","data":"no_feed"}])", "1B 40 | 1D 56 31"},
        {"cut no_feed is case-sensitive", false, R"([{"op":"cut","data":"No_Feed"}])", "1B 40 | 1D 56 42 0A"},
        {"cut needs a string", false, R"([{"op":"cut","data":true}])", "1B 40"},
        {"settings without hasCutter", false, R"([{"op":"settings","data":{}},{"op":"cut","data":"x"}])", "1B 40"},
        {"settings with hasCutter", false, R"([{"op":"settings","data":{"hasCutter":true}},{"op":"cut","data":"x"}])",
         "1B 40 | 1D 56 42 0A"},
        {"settings of wrong type ignored", false, R"([{"op":"settings","data":[1]},{"op":"cut","data":"x"}])",
         "1B 40 | 1D 56 42 0A"},
        {"pulse defaults", false, R"([{"op":"pulse","data":{}}])", "1B 40 | 1B 70 00 32 FA"},
        {"pulse values", false, R"([{"op":"pulse","data":{"drawer":1,"pulse":120}}])", "1B 40 | 1B 70 01 78 FA"},
        {"pulse limits", false, R"([{"op":"pulse","data":{"drawer":1,"pulse":250}}])", "1B 40 | 1B 70 01 FA FA"},
        {"pulse out of range", false,
         R"([{"op":"pulse","data":{"drawer":2,"pulse":300}},{"op":"pulse","data":{"pulse":10}}])",
         "1B 40 | 1B 70 00 32 FA | 1B 70 00 32 FA"},
        {"pulse without drawer", false, R"([{"op":"settings","data":{"hasCutter":true}},{"op":"pulse","data":{}}])",
         "1B 40"},
        {"alignment", false, R"([{"op":"alignment","data":1},{"op":"alignment","data":1},{"op":"alignment","data":2}])",
         "1B 40 | 1B 61 01 | 1B 61 02"},
        {"alignment first 0 is sent", false, R"([{"op":"alignment","data":0}])", "1B 40 | 1B 61 00"},
        {"alignment out of range", false,
         R"([{"op":"alignment","data":1},{"op":"alignment","data":5},{"op":"alignment","data":-1},{"op":"alignment","data":"2"}])",
         "1B 40 | 1B 61 01 | 1B 61 00"},
        {"style", false, R"([{"op":"style","data":{"emphasized":true}},{"op":"style","data":{"emphasized":true}}])",
         "1B 40 | 1B 21 08"},
        {"style off at start sends nothing", false, R"([{"op":"style","data":{"emphasized":false}}])", "1B 40"},
        {"style both", false, R"([{"op":"style","data":{"emphasized":true,"underlined":true}}])", "1B 40 | 1B 21 88"},
        {"double", false,
         R"([{"op":"double","data":{"height":true}},{"op":"double","data":{"width":true}},{"op":"double","data":{"width":true,"height":true}}])",
         "1B 40 | 1B 21 10 | 1B 21 20 | 1B 21 30"},
        {"condensed needs a bool", false, R"([{"op":"condensed","data":1},{"op":"condensed","data":true}])",
         "1B 40 | 1B 21 01"},
        {"print mode carries every flag", false,
         R"([{"op":"condensed","data":true},{"op":"style","data":{"underlined":true}},{"op":"double","data":{"width":true}}])",
         "1B 40 | 1B 21 01 | 1B 21 81 | 1B 21 A1"},
        {"text", false, R"([{"op":"text","data":"Olá\n"},{"op":"text","data":5}])", "1B 40 | 1B 74 00 4F 6C A0 0A"},
        {"double width halves the line", false,
         R"([{"op":"double","data":{"width":true}},{"op":"text","data":"aaaaaaaaaaaaaaaaaaaaaaaaaa"}])",
         "1B 40 | 1B 21 20 | 1B 74 00 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 0A 61 "
         "61"},
        {"condensed double width", false,
         R"([{"op":"condensed","data":true},{"op":"double","data":{"width":true}},{"op":"text","data":"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"}])",
         "1B 40 | 1B 21 01 | 1B 21 21 | 1B 74 00 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 61 "
         "61 61 61 61 61 61 61 61 61 0A 61"},
        {"folding", false, R"([{"op":"settings","data":{"replaceAccentedChars":true}},{"op":"text","data":"€ ã"}])",
         "1B 40 | 1B 74 00 20 20 61"},
        {"euro without folding", false, R"([{"op":"text","data":"€"}])", "1B 40 | 1B 74 00 1B 74 10 80 1B 74 00"},
        {"alternative charset", false,
         R"([{"op":"settings","data":{"alternativeCharset":true}},{"op":"text","data":"€"}])",
         "1B 40 | 1B 74 00 1B 74 13 D5 1B 74 00"},
        {"folded width counts folded text", false,
         R"([{"op":"settings","data":{"replaceAccentedChars":true,"normalLineWidth":4}},{"op":"text","data":"ÆÆÆ"}])",
         "1B 40 | 1B 74 00 41 45 41 45 0A 41 45"},
        {"image resets styles", false,
         R"([{"op":"style","data":{"emphasized":true}},{"op":"settings","data":{"imagePrintMode":2}},{"op":"image","data":""},{"op":"style","data":{"emphasized":true}}])",
         "1B 40 | 1B 21 08 | 1B 40 | 1B 21 08"},
        {"compatibility keeps styles after image", true,
         R"([{"op":"style","data":{"emphasized":true}},{"op":"settings","data":{"imagePrintMode":2}},{"op":"image","data":""},{"op":"style","data":{"emphasized":true}}])",
         "1B 21 08"},
    };
    for (const auto& row : rows)
        QTest::newRow(row.name) << row.compatibility << QByteArray(row.json) << hex(row.bytes);
}

void TestPrintJob::operations()
{
    QFETCH(bool, compatibility);
    QFETCH(QByteArray, json);
    QFETCH(QByteArray, bytes);
    QCOMPARE(RenderSupport::render(job(json.constData()), compatibility).toHex(' '), bytes.toHex(' '));
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
    const QByteArray expected = RenderSupport::render(operations);
    QTRY_COMPARE_WITH_TIMEOUT(printer.received().toHex(' '), expected.toHex(' '), 60000);
}

void TestPrintJob::printerNotReady()
{
    RenderCapturePrinter printer(QStringLiteral("qlk-render-") + QUuid::createUuid().toString(QUuid::Id128).left(8));
    const QString problem = printer.create();
    if (!problem.isEmpty()) {
        if (qgetenv("CI") == "true")
            QFAIL(qPrintable(problem));
        QSKIP(qPrintable(problem));
    }
    QVERIFY(printer.disable());
    PrintJob printJob(job(R"([{"op":"text","data":"x"}])"), printer.name(), false);
    QVERIFY(!printJob.print());
    PrintJob missing(job(R"([{"op":"text","data":"x"}])"), QStringLiteral("qlk-no-such-printer"), false);
    QVERIFY(!missing.print());
}

QLK_TEST_MAIN_CORE(TestPrintJob)
#include "tst_printjob.moc"

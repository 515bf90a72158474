// Jobs rendered to ESC/POS bytes: the golden jobs in jobs.json, code pages, line wrapping.

#include "printing/CodePages.h"
#include "printing/PrintJob.h"
#include "printing/generated/CodePageTables.h"
#include "support/RenderSupport.h"
#include "support/TestMain.h"

#include <QFile>
#include <QJsonObject>
#include <QProcess>

using RenderSupport::hex;

class TestRendering : public QObject
{
    Q_OBJECT

private slots:
    void operations_data()
    {
        QTest::addColumn<bool>("compatibility");
        QTest::addColumn<QJsonArray>("operations");
        QTest::addColumn<QByteArray>("bytes");
        QFile file(QFINDTESTDATA("jobs.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonArray rows = QJsonDocument::fromJson(file.readAll()).array();
        QVERIFY(rows.size() >= 20);
        for (const QJsonValue& value : rows) {
            const QJsonObject row = value.toObject();
            QTest::newRow(qPrintable(row.value("name").toString()))
                << row.value("compatibility").toBool() << row.value("job").toArray()
                << hex(row.value("bytes").toString().toLatin1().constData());
        }
    }
    void operations()
    {
        QFETCH(bool, compatibility);
        QFETCH(QJsonArray, operations);
        QFETCH(QByteArray, bytes);
        QCOMPARE(RenderSupport::render(operations, compatibility).toHex(' '), bytes.toHex(' '));
    }

    void encodeText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("alternative");
        QTest::addColumn<QByteArray>("bytes"); // after the leading 1B 74 00
        QTest::newRow("ascii, controls") << QStringLiteral("Ab 1\n\x1B\t") << false << hex("41 62 20 31 0A 1B 09");
        QTest::newRow("page 0") << QStringLiteral("\u00E9") << false << hex("82");
        QTest::newRow("page 3 for one character")
            << QStringLiteral("P\u00E3o") << false << hex("50 1B 74 03 84 1B 74 00 6F");
        QTest::newRow("euro") << QStringLiteral("\u20AC") << false << hex("1B 74 10 80 1B 74 00");
        QTest::newRow("euro, alternative") << QStringLiteral("\u20AC") << true << hex("1B 74 13 D5 1B 74 00");
        QTest::newRow("soft hyphen") << QStringLiteral("\u00AD") << false << hex("00");
        QTest::newRow("soft hyphen, alternative") << QStringLiteral("\u00AD") << true << hex("1B 74 13 F0 1B 74 00");
        QTest::newRow("outside the BMP") << QStringLiteral("\U0001F600") << true << hex("00 00");
    }
    void encodeText()
    {
        QFETCH(QString, text);
        QFETCH(bool, alternative);
        QFETCH(QByteArray, bytes);
        QCOMPARE(CodePages::encodeText(text, alternative).toHex(' '), (hex("1B 74 00") + bytes).toHex(' '));
    }

    // An independent check of the generated tables: the system's iconv.
    void pagesMatchIconv()
    {
        const struct
        {
            int page;
            const char* charset;
            QByteArray spaces; // bytes that print as a space instead
        } pages[] = {{0, "CP437", hex("FF")},
                     {3, "CP860", hex("FF")},
                     {16, "CP1252", hex("81 8D 8F 90 9D A0 AD")},
                     {19, "CP858", hex("FF")}};
        for (const auto& page : pages) {
            const char16_t* table = CodePageTables::pages[page.page];
            QVERIFY(table);
            QByteArray input;
            for (int b = 1; b < 256; ++b) {
                if (page.spaces.contains(char(b)))
                    QCOMPARE(int(table[b - 1]), 0x20);
                else
                    input.append(char(b));
            }
            QProcess iconv;
            iconv.start(QStringLiteral("iconv"), {"-f", page.charset, "-t", "UTF-16LE"});
            QVERIFY2(iconv.waitForStarted(), "iconv is not installed");
            iconv.write(input);
            iconv.closeWriteChannel();
            QVERIFY(iconv.waitForFinished(30000));
            const QByteArray utf16 = iconv.readAllStandardOutput();
            QCOMPARE(utf16.size(), input.size() * 2);
            for (int i = 0; i < input.size(); ++i) {
                const int byte = quint8(input[i]), expected = quint8(utf16[2 * i]) | quint8(utf16[2 * i + 1]) << 8;
                QVERIFY2(table[byte - 1] == expected, qPrintable(QStringLiteral("%1 %2").arg(page.charset).arg(byte)));
            }
        }
    }

    void foldToAscii()
    {
        QCOMPARE(CodePages::foldToAscii(QStringLiteral("P\u00E3o \u00C0\u0104\u1EA0\u24B6\uFF21 \u00E7\n\x1B")),
                 "Pao AAAAA c\n\x1B");
        QCOMPARE(CodePages::foldToAscii(QStringLiteral("\u00C6\u00DF\u1E9E\u00DE\uFB03\u2474\u2488\u2014\u203C")),
                 "AEssSSTHffi(1)1.-!!");
        // Not in the table, and a pair of surrogates: a space each.
        QCOMPARE(CodePages::foldToAscii(QStringLiteral("\u20AC\u00A9\u2026x\U0001F600")), "   x  ");
        QCOMPARE(CodePages::foldToAscii(QStringLiteral("a\u00A0b\u00ADc")), "a b c");
    }

    void wrapText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("wrapped");
        QTest::newRow("last space") << "aaaa bbbb cccc" << 10 << "aaaa bbbb\ncccc";
        QTest::newRow("exactly the width") << "aaaa bbbbb" << 10 << "aaaa bbbbb";
        QTest::newRow("hyphen then hard cut") << "aaa-bbbbbbbbbbbbb" << 10 << "aaa-\nbbbbbbbbbb\nbbb";
        QTest::newRow("line end before last space") << "ab\ncd efgh ijk" << 10 << "ab\ncd efgh\nijk";
        QTest::newRow("leading spaces dropped") << "aaaaaaaaaa  bbbbbbbbbbbbb" << 10 << "aaaaaaaaaa\nbbbbbbbbbb\nbbb";
        QTest::newRow("spaces kept when the rest fits") << "aaaaaaaaaa   bbb" << 10 << "aaaaaaaaaa\n  bbb";
        QTest::newRow("width below 1 is 1, no hang") << "abc" << -4 << "a\nb\nc";
    }
    void wrapText()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(QString, wrapped);
        QCOMPARE(PrintJob::wrapText(text, width), wrapped);
    }
};

QLK_TEST_MAIN_CORE(TestRendering)
#include "tst_rendering.moc"

#include "printing/CodePages.h"
#include "printing/generated/CodePageTables.h"
#include "support/RenderSupport.h"
#include "support/TestMain.h"

#include <QProcess>

using RenderSupport::hex;

class TestCodePages : public QObject
{
    Q_OBJECT

private slots:
    void encodeText_data();
    void encodeText();
    void encodingAgreesWithLookup();
    void pagesMatchIconv_data();
    void pagesMatchIconv();
    void foldToAscii_data();
    void foldToAscii();
};

void TestCodePages::encodeText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("alternative");
    QTest::addColumn<QByteArray>("bytes"); // after the leading 1B 74 00
    const char* const pao = "50 1B 74 03 84 1B 74 00 6F";
    QTest::newRow("ascii and controls") << QStringLiteral("Ab 1\n\x1B\t") << false << hex("41 62 20 31 0A 1B 09");
    QTest::newRow("page 0") << QStringLiteral("\u00E9") << false << hex("82");
    QTest::newRow("page 3 for one character") << QStringLiteral("P\u00E3o") << false << hex(pao);
    QTest::newRow("page 3, alternative") << QStringLiteral("P\u00E3o") << true << hex(pao);
    QTest::newRow("euro") << QStringLiteral("\u20AC") << false << hex("1B 74 10 80 1B 74 00");
    QTest::newRow("euro, alternative") << QStringLiteral("\u20AC") << true << hex("1B 74 13 D5 1B 74 00");
    QTest::newRow("soft hyphen") << QStringLiteral("\u00AD") << false << hex("00");
    QTest::newRow("soft hyphen, alternative") << QStringLiteral("\u00AD") << true << hex("1B 74 13 F0 1B 74 00");
    QTest::newRow("no-break space") << QStringLiteral("\u00A0") << false << hex("00");
    QTest::newRow("outside the BMP") << QStringLiteral("\U0001F600") << true << hex("00 00");
}

void TestCodePages::encodeText()
{
    QFETCH(QString, text);
    QFETCH(bool, alternative);
    QFETCH(QByteArray, bytes);
    QCOMPARE(CodePages::encodeText(text, alternative).toHex(' '), (hex("1B 74 00") + bytes).toHex(' '));
}

// Encoding uses a prebuilt index; it must pick exactly the first pair that a scan of the pages finds.
void TestCodePages::encodingAgreesWithLookup()
{
    QCOMPARE(CodePages::lookupChar(QChar(0x00E3), false), hex("03 84 10 E3"));
    QCOMPARE(CodePages::lookupChar(QChar(0x2603), false), hex("00 00"));
    for (bool alternative : {false, true}) {
        for (int u = 0; u < 0x10000; ++u) {
            const QByteArray pair = CodePages::lookupChar(QChar(u), alternative);
            const QByteArray expected =
                pair.at(0) == 0 ? pair.mid(1, 1) : hex("1B 74") + pair.left(2) + hex("1B 74 00");
            const QByteArray got = CodePages::encodeText(QString(QChar(u)), alternative).mid(3);
            if (got != expected)
                QFAIL(qPrintable(
                    QStringLiteral("U+%1: %2 instead of %3")
                        .arg(u, 4, 16, QLatin1Char('0'))
                        .arg(QString::fromLatin1(got.toHex(' ')), QString::fromLatin1(expected.toHex(' ')))));
        }
    }
}

// An independent check of the generated tables: the system's iconv.
void TestCodePages::pagesMatchIconv_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("charset");
    QTest::addColumn<QByteArray>("spaces"); // bytes that must print as a space instead
    QTest::newRow("PC437") << 0 << "CP437" << hex("FF");
    QTest::newRow("PC860") << 3 << "CP860" << hex("FF");
    QTest::newRow("WPC1252") << 16 << "CP1252" << hex("81 8D 8F 90 9D A0 AD");
    QTest::newRow("PC858") << 19 << "CP858" << hex("FF");
}

void TestCodePages::pagesMatchIconv()
{
    QFETCH(int, page);
    QFETCH(QString, charset);
    QFETCH(QByteArray, spaces);
    const char16_t* table = CodePageTables::pages[page];
    QVERIFY(table);
    QByteArray input;
    for (int b = 1; b < 256; ++b) {
        if (spaces.contains(char(b)))
            QCOMPARE(int(table[b - 1]), 0x20);
        else
            input.append(char(b));
    }
    QProcess iconv;
    iconv.start(QStringLiteral("iconv"),
                {QStringLiteral("-f"), charset, QStringLiteral("-t"), QStringLiteral("UTF-16LE")});
    QVERIFY2(iconv.waitForStarted(), "iconv is not installed");
    iconv.write(input);
    iconv.closeWriteChannel();
    QVERIFY(iconv.waitForFinished(30000));
    const QByteArray utf16 = iconv.readAllStandardOutput();
    QCOMPARE(utf16.size(), input.size() * 2);
    for (int i = 0; i < input.size(); ++i) {
        const int expected = quint8(utf16[2 * i]) | quint8(utf16[2 * i + 1]) << 8;
        const int byte = quint8(input[i]);
        QVERIFY2(int(table[byte - 1]) == expected, qPrintable(QStringLiteral("byte %1").arg(byte, 2, 16)));
    }
}

void TestCodePages::foldToAscii_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("folded");
    QTest::newRow("ascii unchanged") << "Abc 1\n\x1B"
                                     << "Abc 1\n\x1B";
    QTest::newRow("letters") << QStringLiteral("P\u00E3o \u00C0\u0104\u1EA0\u24B6\uFF21 fran\u00E7a")
                             << "Pao AAAAA franca";
    QTest::newRow("longer results") << QStringLiteral("\u00C6\u00DF\u1E9E\u00DE\uFB03\u2474\u2488")
                                    << "AEssSSTHffi(1)1.";
    QTest::newRow("punctuation") << QStringLiteral("\u2013\u2014\u2018\u00AB\u201D\u203C\u2E28") << "--'\"\"!!((";
    QTest::newRow("not in the table") << QStringLiteral("\u20AC\u00A9\u00B0\u00BD\u2026") << "     ";
    QTest::newRow("no-break and soft hyphen") << QStringLiteral("a\u00A0b\u00ADc") << "a b c";
    QTest::newRow("surrogates") << QStringLiteral("x\U0001F600") << "x  ";
}

void TestCodePages::foldToAscii()
{
    QFETCH(QString, text);
    QFETCH(QString, folded);
    QCOMPARE(CodePages::foldToAscii(text), folded);
}

QLK_TEST_MAIN_CORE(TestCodePages)
#include "tst_codepages.moc"

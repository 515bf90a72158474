// QR codes and barcodes on receipts: the printer's own commands byte for byte,
// what zbarimg reads back from the preview and from the image sent to printers
// without them, refusals before a byte is sent, and a mixed job through CUPS.

#include "support/ApiServer.h"
#include "support/CapturePrinter.h"
#include "support/RenderSupport.h"
#include "support/TestMain.h"

#include "printing/CodeOperation.h"
#include "printing/ESCImageManager.h"
#include "printing/JobCheck.h"
#include "printing/JobPreview.h"
#include "printing/Printer.h"

#include <QPainter>

// zbarimg decodes independently of the encoder: CI fails without it, elsewhere the test skips.
#define REQUIRE_ZBARIMG()                                                                                              \
    do {                                                                                                               \
        if (QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty()) {                                     \
            if (qgetenv("CI") == "true")                                                                               \
                QFAIL("zbarimg is not installed (zbar-tools)");                                                        \
            QSKIP("zbarimg is not installed (zbar-tools)");                                                            \
        }                                                                                                              \
    } while (false)

namespace {

const char atcud[] = "A:123456789*B:999999990*C:PT*D:FT*E:N*F:20261206*G:FT 1/1*H:JFJ3-1*I1:PT*N:0.00*O:12.50*Q:abcd*"
                     "R:1234";

QJsonObject op(const char* name, const QJsonValue& data)
{
    return {{"op", name}, {"data", data}};
}

QJsonObject with(QJsonObject data, const QJsonObject& more)
{
    for (auto it = more.begin(); it != more.end(); ++it)
        data.insert(it.key(), it.value());
    return data;
}

// The smallest rectangle holding every black dot (null when blank).
QRect ink(const QImage& image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 128)
                box |= QRect(x, y, 1, 1);
    return box;
}

QImage cropToInk(const QImage& image)
{
    return image.copy(ink(image)).convertToFormat(QImage::Format_RGB32);
}

// What zbarimg reads from a picture, on more white paper all around (the quiet zone a
// printer leaves to the receipt); the symbol's bytes as they are (UTF-8 in a QR code carries no mark of its character
// set for zbar to guess).
QString zbarimg(const QImage& picture)
{
    QImage paper(picture.width() + 128, picture.height() + 128, QImage::Format_RGB32);
    paper.fill(Qt::white);
    QPainter(&paper).drawImage(64, 64, picture.convertToFormat(QImage::Format_RGB32));
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("code.png"));
    if (!paper.save(file))
        return QStringLiteral("(cannot save)");
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {"--quiet", "--raw", "--nodbus", "-Sbinary", "-Supca.enable", file});
    if (!zbar.waitForFinished(30000))
        return QStringLiteral("(zbarimg hangs)");
    QString text = QString::fromUtf8(zbar.readAllStandardOutput());
    text.chop(text.endsWith('\n') ? 1 : 0);
    return text;
}

// The dots of ESC * stripes of 24-dot double density, read straight from the bytes.
QImage stripePicture(const QByteArray& bytes)
{
    QVector<QByteArray> stripes;
    int width = 0;
    for (int pos = bytes.indexOf("\x1B\x2A\x21"); pos >= 0 && pos + 5 <= bytes.size();
         pos = bytes.indexOf("\x1B\x2A\x21", pos + 5)) {
        width = quint8(bytes[pos + 3]) | quint8(bytes[pos + 4]) << 8;
        stripes.append(bytes.mid(pos + 5, width * 3));
    }
    QImage image(qMax(1, width), qMax(1, 24 * stripes.size()), QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int s = 0; s < stripes.size(); ++s)
        for (int x = 0; x < width; ++x)
            for (int row = 0; row < 24; ++row)
                if (quint8(stripes[s][x * 3 + row / 8]) & (0x80 >> (row % 8)))
                    image.setPixel(x, s * 24 + row, qRgb(0, 0, 0));
    return image;
}

} // namespace

class TestCodes : public QObject, public RenderSupport
{
    Q_OBJECT

    std::unique_ptr<CapturePrinter> m_printer;
    std::unique_ptr<ApiServer> m_server;

    int spooled() const { return m_printer->queue().jobs().size(); }

private slots:
    void initTestCase()
    {
        QLK_REQUIRE_CUPS();
        m_printer = std::make_unique<CapturePrinter>(QStringLiteral("qlk-codes"));
        QVERIFY2(m_printer->isValid(), qPrintable(m_printer->errorString()));
        m_server = std::make_unique<ApiServer>();
        QVERIFY2(m_server->isValid(), qPrintable(m_server->errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(m_server->printer(m_printer->queueName()), 15000);
        m_server->printer(m_printer->queueName())->setAvailable(true);
    }

    // The bytes of one operation after the job's ESC @.
    void nativeCommands_data()
    {
        QTest::addColumn<QJsonObject>("operation");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray model = hex("1D 28 6B 04 00 31 41 32 00");
        const QByteArray print = hex("1D 28 6B 03 00 31 51 30");
        const auto qr = [&](const char* name, const QJsonObject& data, const char* size, const char* level,
                            const char* store) {
            QTest::newRow(name) << op("qrcode", data)
                                << model + hex("1D 28 6B 03 00 31 43") + hex(size) + hex("1D 28 6B 03 00 31 45") +
                                       hex(level) + hex("1D 28 6B") + hex(store) + print;
        };
        qr("QR defaults: M, 6 dots", {{"text", "ABC"}}, "06", "31", "06 00 31 50 30 41 42 43");
        qr("QR L, 1 dot", {{"text", "ABC"}, {"errorCorrection", "L"}, {"size", 1}}, "01", "30",
           "06 00 31 50 30 41 42 43");
        qr("QR Q, 16 dots", {{"text", "ABC"}, {"errorCorrection", "Q"}, {"size", 16}}, "10", "32",
           "06 00 31 50 30 41 42 43");
        qr("QR H, UTF-8 bytes", {{"text", "Olá"}, {"errorCorrection", "H"}, {"size", 4}}, "04", "33",
           "07 00 31 50 30 4F 6C C3 A1");
        QByteArray long300(300, 'x');
        qr("QR 300 bytes: two length bytes", {{"text", QString(long300)}}, "06", "31",
           QByteArray("2F 01 31 50 30 ") + long300.toHex(' '));

        const auto bar = [](const char* name, const QJsonObject& data, const char* bytes) {
            QTest::newRow(name) << op("barcode", data) << hex(bytes);
        };
        // GS h, GS w, GS H, then GS k m n with the data.
        bar("EAN13, check digit computed", {{"type", "EAN13"}, {"text", "400638133393"}},
            "1D 68 50 1D 77 03 1D 48 02 1D 6B 43 0D 34 30 30 36 33 38 31 33 33 33 39 33 31");
        bar("EAN13 with its check digit, text above", {{"type", "EAN13"}, {"text", "4006381333931"}, {"hri", "above"}},
            "1D 68 50 1D 77 03 1D 48 01 1D 6B 43 0D 34 30 30 36 33 38 31 33 33 33 39 33 31");
        bar("EAN8, check digit computed, no text", {{"type", "EAN8"}, {"text", "1234567"}, {"hri", "none"}},
            "1D 68 50 1D 77 03 1D 48 00 1D 6B 44 08 31 32 33 34 35 36 37 30");
        bar("EAN8 with its check digit", {{"type", "EAN8"}, {"text", "12345670"}, {"height", 1}},
            "1D 68 01 1D 77 03 1D 48 02 1D 6B 44 08 31 32 33 34 35 36 37 30");
        bar("UPCA, check digit computed, text both", {{"type", "UPCA"}, {"text", "03600029145"}, {"hri", "both"}},
            "1D 68 50 1D 77 03 1D 48 03 1D 6B 41 0C 30 33 36 30 30 30 32 39 31 34 35 32");
        bar("UPCA with its check digit", {{"type", "UPCA"}, {"text", "036000291452"}, {"width", 6}},
            "1D 68 50 1D 77 06 1D 48 02 1D 6B 41 0C 30 33 36 30 30 30 32 39 31 34 35 32");
        bar("CODE39, no check digit", {{"type", "CODE39"}, {"text", "AB-12 $"}, {"height", 255}, {"width", 2}},
            "1D 68 FF 1D 77 02 1D 48 02 1D 6B 45 07 41 42 2D 31 32 20 24");
        bar("ITF", {{"type", "ITF"}, {"text", "0123456789"}},
            "1D 68 50 1D 77 03 1D 48 02 1D 6B 46 0A 30 31 32 33 34 35 36 37 38 39");
        bar("CODE128 in set B, a { doubled", {{"type", "CODE128"}, {"text", "Ab{1"}},
            "1D 68 50 1D 77 03 1D 48 02 1D 6B 49 07 7B 42 41 62 7B 7B 31");
        bar("CODE128 digits in set C", {{"type", "CODE128"}, {"text", "20261206"}},
            "1D 68 50 1D 77 03 1D 48 02 1D 6B 49 06 7B 43 14 1A 0C 06");
        bar("CODE128 odd digits in set B", {{"type", "CODE128"}, {"text", "123"}},
            "1D 68 50 1D 77 03 1D 48 02 1D 6B 49 05 7B 42 31 32 33");
    }
    void nativeCommands()
    {
        QFETCH(QJsonObject, operation);
        QFETCH(QByteArray, bytes);
        QCOMPARE(render({operation}).toHex(' '), (hex("1B 40") + bytes).toHex(' '));
    }

    // zbarimg reads the exact text back from the preview of the printer's commands, from the
    // preview of the image sent instead, and from that image's own dots; the image shows the
    // printer's modules, whatever the alignment.
    void decoding_data()
    {
        QTest::addColumn<QJsonObject>("operation");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("alignment");
        const auto qr = [](const char* name, const QJsonObject& data, int alignment) {
            QTest::newRow(name) << op("qrcode", data) << data.value("text").toString() << alignment;
        };
        qr("ATCUD, M, 4 dots", {{"text", atcud}, {"size", 4}}, 1);
        qr("ATCUD, L, 3 dots", {{"text", atcud}, {"errorCorrection", "L"}, {"size", 3}}, 0);
        qr("Q, 8 dots", {{"text", "https://quorva.pt/r/123"}, {"errorCorrection", "Q"}, {"size", 8}}, 2);
        qr("H, 2 dots, UTF-8", {{"text", "Balcão 1: 12,50 €"}, {"errorCorrection", "H"}, {"size", 2}}, 1);
        qr("digits only", {{"text", "1234567890123"}}, 1);
        const auto bar = [](const char* name, const QJsonObject& data, const char* text, int alignment) {
            QTest::newRow(name) << op("barcode", data) << text << alignment;
        };
        bar("EAN13", {{"type", "EAN13"}, {"text", "400638133393"}}, "4006381333931", 1);
        bar("EAN13, text above, narrow", {{"type", "EAN13"}, {"text", "5601234567892"}, {"hri", "above"}, {"width", 2}},
            "5601234567892", 0);
        bar("EAN8", {{"type", "EAN8"}, {"text", "1234567"}, {"hri", "none"}}, "12345670", 2);
        bar("UPCA", {{"type", "UPCA"}, {"text", "03600029145"}, {"hri", "both"}}, "036000291452", 1);
        bar("CODE39", {{"type", "CODE39"}, {"text", "QUORVA-39"}, {"width", 2}}, "QUORVA-39", 1);
        bar("ITF, wide", {{"type", "ITF"}, {"text", "0123456789"}, {"width", 4}}, "0123456789", 1);
        bar("CODE128 set B", {{"type", "CODE128"}, {"text", "Loja {1} #42"}, {"width", 2}}, "Loja {1} #42", 1);
        bar("CODE128 set C", {{"type", "CODE128"}, {"text", "20261206123456"}, {"height", 40}}, "20261206123456", 1);
    }
    void decoding()
    {
        REQUIRE_ZBARIMG();
        QFETCH(QJsonObject, operation);
        QFETCH(QString, text);
        QFETCH(int, alignment);
        QJsonObject raster = operation;
        raster["data"] = with(operation.value("data").toObject(), {{"native", false}});
        QCOMPARE(JobCheck::problem({operation, raster}, false), QString());
        const QImage native = JobPreview::draw({op("alignment", alignment), operation, op("text", "\n")}, false);
        const QImage image = JobPreview::draw({op("alignment", alignment), raster, op("text", "\n")}, false);
        QCOMPARE(zbarimg(native), text);
        QCOMPARE(zbarimg(image), text);
        const QByteArray bytes = render({raster});
        QCOMPARE(zbarimg(stripePicture(bytes)), text);
        QVERIFY(!bytes.contains("\x1D\x6B") && !bytes.contains("\x1D\x28\x6B")); // no code commands

        // The same modules: a QR code in the image has its quiet zone, but the same dots.
        QCOMPARE(cropToInk(image), cropToInk(native));
        const QRect nativeInk = ink(native), imageInk = ink(image);
        if (alignment == 0)
            QCOMPARE(nativeInk.left(), 0);
        else if (alignment == 1)
            QCOMPARE(imageInk.center().x(), nativeInk.center().x());
        else
            QCOMPARE(nativeInk.right(), 575);
        QCOMPARE(ink(stripePicture(bytes)).size(), imageInk.size());
    }

    // The printer's commands drawn to their measure: modules, wide bars of CODE39 and ITF (2 to
    // 6 dots narrow: 5, 8, 10, 13, 15 wide), bar height, a line of font A per text position.
    void nativeGeometry_data()
    {
        QTest::addColumn<QJsonObject>("operation");
        QTest::addColumn<QSize>("bars");
        QTest::addColumn<int>("textLines");
        QTest::newRow("QR version 1, 5 dots")
            << op("qrcode", QJsonObject{{"text", "ABC"}, {"size", 5}}) << QSize(105, 105) << 0;
        QTest::newRow("EAN13, 95 modules")
            << op("barcode", QJsonObject{{"type", "EAN13"}, {"text", "400638133393"}, {"hri", "none"}})
            << QSize(285, 80) << 0;
        QTest::newRow("CODE39 *A*, text below")
            << op("barcode", QJsonObject{{"type", "CODE39"}, {"text", "A"}, {"height", 40}})
            << QSize(3 * 42 + 2 * 3, 40) << 1;
        QTest::newRow("ITF 12, narrow 3, text both")
            << op("barcode", QJsonObject{{"type", "ITF"}, {"text", "12"}, {"height", 50}, {"hri", "both"}})
            << QSize(4 * 3 + 4 * 8 + 6 * 3 + 8 + 2 * 3, 50) << 2;
        QTest::newRow("ITF 12, narrow 6, text above")
            << op("barcode",
                  QJsonObject{{"type", "ITF"}, {"text", "12"}, {"width", 6}, {"height", 1}, {"hri", "above"}})
            << QSize(4 * 6 + 4 * 15 + 6 * 6 + 15 + 2 * 6, 1) << 1;
        QTest::newRow("CODE128 set C, 46 modules")
            << op("barcode", QJsonObject{{"type", "CODE128"}, {"text", "12"}, {"width", 2}, {"hri", "none"}})
            << QSize(92, 80) << 0;
    }
    void nativeGeometry()
    {
        QFETCH(QJsonObject, operation);
        QFETCH(QSize, bars);
        QFETCH(int, textLines);
        const QImage preview = JobPreview::draw({operation}, false);
        QCOMPARE(preview.height(), bars.height() + 24 * textLines);
        const QRect box = ink(preview);
        QCOMPARE(box.width(), bars.width());
        const QString hri = operation["data"].toObject().value("hri").toString();
        const bool above = hri == "above" || hri == "both";
        const QRect barArea(0, above ? 24 : 0, 576, bars.height());
        QCOMPARE(ink(preview.copy(barArea)).size(), bars);
        // Each line of text under or over the bars holds ink, centred on them.
        const QList<QRect> lines{above ? QRect(0, 0, 576, 24) : QRect(),
                                 textLines - int(above) > 0 ? QRect(0, barArea.bottom() + 1, 576, 24) : QRect()};
        for (const QRect& line : lines) {
            const QRect text = line.isNull() ? QRect() : ink(preview.copy(line));
            QVERIFY(line.isNull() || (!text.isNull() && qAbs(text.center().x() - box.center().x()) <= 6));
        }
    }

    // A QR code sent as an image keeps four modules of white all around.
    void imageQuietZone()
    {
        const CodeOperation code(QStringLiteral("qrcode"), QJsonObject{{"text", "ABC"}, {"size", 5}});
        QVERIFY(code.error().isEmpty());
        const QImage picture = code.picture();
        QCOMPARE(picture.width(), (21 + 8) * 5);
        QCOMPARE(ink(picture), QRect(20, 20, 21 * 5, 21 * 5));
        QCOMPARE(code.width(true), picture.width());
        QCOMPARE(code.width(false), 21 * 5);
    }

    // In compatibility mode both operations print as images in the compatible stripe form.
    void compatibilityMode()
    {
        REQUIRE_ZBARIMG();
        const QJsonObject qr = op("qrcode", QJsonObject{{"text", atcud}, {"size", 3}});
        const QJsonObject bar = op("barcode", QJsonObject{{"type", "EAN13"}, {"text", "400638133393"}});
        const QList<QPair<QJsonObject, QString>> codes{{qr, atcud}, {bar, "4006381333931"}};
        for (const auto& code : codes) {
            const QByteArray bytes = render({code.first}, true);
            const CodeOperation operation(code.first["op"].toString(), code.first["data"]);
            QCOMPARE(bytes.toHex(' '), ESCImageManager::bitImage(operation.picture(), true).toHex(' '));
            QVERIFY(bytes.startsWith(hex("1D 50 CB CB 1B 2A 21")) && bytes.endsWith(hex("1B 4A 18")));
            QCOMPARE(zbarimg(JobPreview::draw({op("alignment", 1), code.first}, true)), code.second);
        }
    }

    // A job whose code cannot print is refused whole, by /sendJob and /previewJob alike, naming
    // the operation and the reason; nothing reaches the printer.
    void refusals_data()
    {
        QTest::addColumn<QJsonValue>("data");
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("reason");
        const auto row = [](const char* name, const char* op, const QJsonValue& data, const QString& reason) {
            QTest::newRow(name) << data << op << reason;
        };
        row("QR without text", "qrcode", QJsonObject{{"size", 4}}, "\"text\" is missing");
        row("QR text not a string", "qrcode", QJsonObject{{"text", 5}}, "\"text\" must be a string that is not empty");
        row("QR text empty", "qrcode", QJsonObject{{"text", ""}}, "\"text\" must be a string that is not empty");
        row("QR data not an object", "qrcode", "ABC", "\"data\" must be an object");
        row("QR text over 2000 bytes", "qrcode", QJsonObject{{"text", QString(1001, QChar(0xE9))}},
            "\"text\" is longer than 2000 bytes");
        row("QR text too long for H", "qrcode",
            QJsonObject{{"text", QString(1300, 'x')}, {"errorCorrection", "H"}, {"size", 1}},
            "\"text\" is too long for a QR code with error correction H");
        row("QR size 17", "qrcode", QJsonObject{{"text", "x"}, {"size", 17}}, "\"size\" must be a whole number");
        row("QR size 2.5", "qrcode", QJsonObject{{"text", "x"}, {"size", 2.5}}, "\"size\" must be a whole number");
        row("QR level m", "qrcode", QJsonObject{{"text", "x"}, {"errorCorrection", "m"}},
            "\"errorCorrection\" must be");
        row("QR native not a bool", "qrcode", QJsonObject{{"text", "x"}, {"native", "false"}},
            "\"native\" must be true or false");
        row("QR image wider than the paper", "qrcode",
            QJsonObject{{"text", QString(40, 'x')}, {"size", 16}, {"native", false}},
            "the code is 592 dots wide, the paper 576");
        row("barcode type missing", "barcode", QJsonObject{{"text", "123"}}, "\"type\" is missing");
        row("barcode type unknown", "barcode", QJsonObject{{"type", "PDF417"}, {"text", "1"}},
            "unknown \"type\" \"PDF417\"");
        row("barcode text missing", "barcode", QJsonObject{{"type", "EAN8"}}, "\"text\" is missing");
        row("EAN13 with 11 digits", "barcode", QJsonObject{{"type", "EAN13"}, {"text", "40063813339"}},
            "EAN13 needs 12 or 13 digits");
        row("EAN13 with a letter", "barcode", QJsonObject{{"type", "EAN13"}, {"text", "40063813339A"}},
            "EAN13 needs 12 or 13 digits");
        row("EAN13 wrong check digit", "barcode", QJsonObject{{"type", "EAN13"}, {"text", "4006381333932"}},
            "wrong check digit: 4006381333932 ends in 2, the check digit is 1");
        row("EAN8 wrong check digit", "barcode", QJsonObject{{"type", "EAN8"}, {"text", "12345678"}},
            "wrong check digit: 12345678 ends in 8, the check digit is 0");
        row("UPCA with 13 digits", "barcode", QJsonObject{{"type", "UPCA"}, {"text", "0360002914521"}},
            "UPCA needs 11 or 12 digits");
        row("CODE39 lower case", "barcode", QJsonObject{{"type", "CODE39"}, {"text", "ABc"}},
            "CODE39 cannot carry \"c\"");
        row("CODE39 star", "barcode", QJsonObject{{"type", "CODE39"}, {"text", "*AB*"}}, "CODE39 cannot carry \"*\"");
        row("CODE39 NUL", "barcode", QJsonObject{{"type", "CODE39"}, {"text", QStringLiteral("AB%1").arg(QChar(0))}},
            "CODE39 cannot carry U+0000");
        row("CODE128 line end", "barcode", QJsonObject{{"type", "CODE128"}, {"text", "AB\n"}},
            "CODE128 carries printable ASCII characters only, not U+000A");
        row("ITF odd", "barcode", QJsonObject{{"type", "ITF"}, {"text", "123"}}, "ITF needs an even number of digits");
        row("CODE128 accent", "barcode", QJsonObject{{"type", "CODE128"}, {"text", "Pão"}},
            "CODE128 carries printable ASCII characters only, not \"ã\"");
        row("barcode height 0", "barcode", QJsonObject{{"type", "ITF"}, {"text", "12"}, {"height", 0}},
            "\"height\" must be a whole number from 1 to 255");
        row("barcode width 7", "barcode", QJsonObject{{"type", "ITF"}, {"text", "12"}, {"width", 7}},
            "\"width\" must be a whole number from 2 to 6");
        row("barcode hri left", "barcode", QJsonObject{{"type", "ITF"}, {"text", "12"}, {"hri", "left"}},
            "\"hri\" must be");
        row("CODE128 wider than the paper", "barcode", QJsonObject{{"type", "CODE128"}, {"text", QString(30, 'x')}},
            "the code is 1095 dots wide, the paper 576");
    }
    void refusals()
    {
        QFETCH(QJsonValue, data);
        QFETCH(QString, op);
        QFETCH(QString, reason);
        const QJsonArray job{::op("text", "Fatura FT 1/1\n"), ::op("image", pngBase64(filled(8, 8, 0xFF000000))),
                             QJsonObject{{"op", op}, {"data", data}}, ::op("cut", "feed")};
        const QString error = QStringLiteral("Invalid job: operation 2 (%1): %2").arg(op, reason);
        const int before = spooled();
        const ApiClient client = m_server->client();
        for (const char* path : {"/sendJob", "/previewJob"}) {
            const QJsonObject reply =
                client
                    .postJson(path, QJsonObject{{"printer", m_printer->queueName()}, {"job", job}}, m_server->bearer())
                    .json();
            QCOMPARE(reply.value("status"), QJsonValue(false));
            QVERIFY2(reply.value("error").toString().startsWith(error), qPrintable(reply.value("error").toString()));
        }
        // Whoever prints without asking first still prints nothing.
        QVERIFY(!PrintJob(job, m_printer->queueName(), false).print());
        QCOMPARE(spooled(), before);
    }

    // A code that fits the paper only without the image's quiet zone, or on wider paper.
    void paperWidth()
    {
        const QJsonObject qr{{"text", QString(40, 'x')}, {"size", 16}}; // 29 modules: 464 dots, 592 as an image
        QCOMPARE(JobCheck::problem({op("qrcode", qr)}, false), QString());
        QVERIFY(JobCheck::problem({op("qrcode", qr)}, true)
                    .endsWith("the code is 592 dots wide, the paper 576 "
                              "(\"dotWidth\")"));
        QVERIFY(
            !JobCheck::problem({op("settings", QJsonObject{{"dotWidth", 384}}), op("qrcode", qr)}, false).isEmpty());
        QCOMPARE(JobCheck::problem({op("settings", QJsonObject{{"dotWidth", 640}}), op("qrcode", qr)}, true),
                 QString());
    }

    // The invoice of docs/api.md prints, and its picture there is what the preview draws.
    void documentedExample()
    {
        const QString source = qEnvironmentVariable("QLK_SOURCE_DIR");
        QFile file(source + "/docs/examples/invoice.json");
        QVERIFY2(file.open(QIODevice::ReadOnly), "QLK_SOURCE_DIR is not set: run through ctest");
        const QJsonArray job = QJsonDocument::fromJson(file.readAll()).object().value("job").toArray();
        QCOMPARE(job.at(2)["data"]["text"].toString(), QString(atcud));
        QCOMPARE(JobCheck::problem(job, false), QString());
        const QImage picture(source + "/docs/examples/invoice.png");
        QCOMPARE(picture.convertToFormat(QImage::Format_RGB32),
                 JobPreview::draw(job, false).convertToFormat(QImage::Format_RGB32));
    }

    // Text, an image, a QR code and a barcode, native and as images, through a real CUPS queue.
    void mixedJobPrints()
    {
        const QJsonArray job{op("alignment", 1),
                             op("text", "Quorva Link\n"),
                             op("image", pngBase64(filled(40, 24, qRgb(128, 128, 128)))),
                             op("qrcode", QJsonObject{{"text", atcud}, {"size", 4}}),
                             op("barcode", QJsonObject{{"type", "CODE128"}, {"text", "20261206"}}),
                             op("qrcode", QJsonObject{{"text", "ABC"}, {"native", false}}),
                             op("barcode", QJsonObject{{"type", "EAN8"}, {"text", "1234567"}, {"native", false}}),
                             op("text", "Obrigado!\n"),
                             op("cut", "feed")};
        const QByteArray expected = render(job);
        for (const char* command : {"1D 28 6B 04 00 31 41 32 00", "1D 6B 49 06 7B 43 14 1A 0C 06", "1B 2A 21 28 00",
                                    "1B 2A 21 AE 00"}) // GS ( k, GS k, the image, the QR code as an image
            QVERIFY2(expected.contains(hex(command)), command);
        const int jobsBefore = m_printer->jobs().size();
        const QJsonObject reply =
            m_server->client()
                .postJson("/sendJob", QJsonObject{{"printer", m_printer->queueName()}, {"job", job}},
                          m_server->bearer())
                .json();
        QCOMPARE(reply.value("data").toString(), QStringLiteral("Job completed successfully"));
        QVERIFY(m_printer->waitForJobs(jobsBefore + 1));
        QCOMPARE(m_printer->jobs().at(jobsBefore).toHex(' '), expected.toHex(' '));
    }
};

QLK_TEST_MAIN(TestCodes)
#include "tst_codes.moc"

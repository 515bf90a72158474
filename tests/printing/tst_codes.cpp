// QR codes and barcodes: zbarimg reading previews and images, geometry, refusals.

#include "preview/PreviewChecks.h"
#include "support/ApiServer.h"
#include "support/CapturePrinter.h"
#include "support/TestMain.h"

#include "printing/CodeOperation.h"
#include "printing/ESCImageManager.h"
#include "printing/JobCheck.h"
#include "printing/JobPreview.h"
#include "printing/Printer.h"

static const char atcud[] =
    "A:123456789*B:999999990*C:PT*D:FT*E:N*F:20261206*G:FT 1/1*H:JFJ3-1*I1:PT*N:0.00*O:12.50*Q:abcd*R:1234";

class TestCodes : public QObject, public PreviewChecks
{
    Q_OBJECT

    std::unique_ptr<CapturePrinter> m_printer;
    std::unique_ptr<ApiServer> m_server;

    QJsonObject send(const char* path, const QJsonArray& job) const
    {
        const QJsonObject body{{"printer", m_printer->queueName()}, {"job", job}};
        return m_server->client().postJson(path, body, m_server->bearer()).json();
    }

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

    // zbarimg reads the exact text back from the preview of the printer's commands, from the preview of the image
    // sent instead, from that image's own dots, and from the preview in compatibility mode; the image shows the
    // printer's modules, however aligned.
    void decoding_data()
    {
        QTest::addColumn<QJsonObject>("operation");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("alignment");
        const auto row = [](const char* name, QJsonObject data, const QString& text, int alignment) {
            if (!data.contains("type") && !data.contains("text"))
                data.insert("text", text);
            QTest::newRow(name) << op(data.contains("type") ? "barcode" : "qrcode", data) << text << alignment;
        };
        row("QR ATCUD, M, 4 dots", obj(R"({"size":4})"), atcud, 1);
        row("QR Q, 8 dots", obj(R"({"errorCorrection":"Q","size":8})"), "https://quorva.pt/r/123", 2);
        row("QR H, 2 dots, UTF-8", obj(R"({"errorCorrection":"H","size":2})"), "Balcão 1: 12,50 €", 1);
        row("EAN13", obj(R"({"type":"EAN13","text":"400638133393"})"), "4006381333931", 1);
        row("EAN13 above, narrow", obj(R"({"type":"EAN13","text":"5601234567892","hri":"above","width":2})"),
            "5601234567892", 0);
        row("EAN8", obj(R"({"type":"EAN8","text":"1234567","hri":"none"})"), "12345670", 2);
        row("UPCA", obj(R"({"type":"UPCA","text":"03600029145","hri":"both"})"), "036000291452", 1);
        row("CODE39", obj(R"({"type":"CODE39","text":"QUORVA-39","width":2})"), "QUORVA-39", 1);
        row("ITF, wide", obj(R"({"type":"ITF","text":"0123456789","width":4})"), "0123456789", 1);
        row("CODE128 B", QJsonObject{{"type", "CODE128"}, {"text", "Loja {1} #42"}, {"width", 2}}, "Loja {1} #42", 1);
        row("CODE128 C", obj(R"({"type":"CODE128","text":"20261206123456","height":40})"), "20261206123456", 1);
    }
    void decoding()
    {
        QLK_REQUIRE_PART(QStandardPaths::findExecutable("zbarimg").isEmpty() ? "zbarimg is not installed (zbar-tools)"
                                                                             : "");
        QFETCH(QJsonObject, operation);
        QFETCH(QString, text);
        QFETCH(int, alignment);
        QJsonObject raster = operation, data = operation["data"].toObject();
        data["native"] = false;
        raster["data"] = data;
        QCOMPARE(JobCheck::problem({operation, raster}, false), QString());
        const auto draw = [&](const QJsonObject& code, bool compatibility = false) {
            return JobPreview::draw({op("alignment", alignment), code, op("text", "\n")}, compatibility);
        };
        const QImage native = draw(operation), image = draw(raster);
        const QByteArray bytes = render({raster});
        for (const QImage& picture : {native, image, stripes(bytes), draw(operation, true)})
            QCOMPARE(zbarimg(picture), text);
        QVERIFY(!bytes.contains("\x1D\x6B") && !bytes.contains("\x1D\x28\x6B")); // no code commands

        // The same modules: a QR code in the image has its quiet zone, but the same dots.
        const QRect nativeInk = ink(native), imageInk = ink(image);
        QCOMPARE(rgb(image.copy(imageInk)), rgb(native.copy(nativeInk)));
        if (alignment == 0)
            QCOMPARE(nativeInk.left(), 0);
        else if (alignment == 1)
            QCOMPARE(imageInk.center().x(), nativeInk.center().x());
        else
            QCOMPARE(nativeInk.right(), 575);

        // In compatibility mode both print as the image in the compatible stripe form.
        const CodeOperation code(operation["op"].toString(), operation["data"]);
        QCOMPARE(render({operation}, true).toHex(' '), ESCImageManager::bitImage(code.picture(), true).toHex(' '));
    }

    // The printer's commands drawn to their measure: modules, wide bars of CODE39 and ITF (2 to 6 dots narrow:
    // 5, 8, 10, 13, 15 wide), bar height, a line of font A per text position.
    void nativeGeometry_data()
    {
        QTest::addColumn<QJsonObject>("operation");
        QTest::addColumn<QSize>("bars");
        QTest::addColumn<int>("textLines");
        const auto row = [](const char* name, const char* json, QSize bars, int textLines) {
            const QJsonObject data = obj(json);
            QTest::newRow(name) << op(data.contains("type") ? "barcode" : "qrcode", data) << bars << textLines;
        };
        row("QR version 1, 5 dots", R"({"text":"ABC","size":5})", QSize(105, 105), 0);
        row("EAN13, 95 modules", R"({"type":"EAN13","text":"400638133393","hri":"none"})", QSize(285, 80), 0);
        row("CODE39 *A*, below", R"({"type":"CODE39","text":"A","height":40})", QSize(3 * 42 + 2 * 3, 40), 1);
        row("ITF 12, narrow 3, both", R"({"type":"ITF","text":"12","height":50,"hri":"both"})",
            QSize(4 * 3 + 4 * 8 + 6 * 3 + 8 + 2 * 3, 50), 2);
        row("ITF 12, narrow 6, above", R"({"type":"ITF","text":"12","width":6,"height":1,"hri":"above"})",
            QSize(4 * 6 + 4 * 15 + 6 * 6 + 15 + 2 * 6, 1), 1);
        row("CODE128 C, 46 modules", R"({"type":"CODE128","text":"12","width":2,"hri":"none"})", QSize(92, 80), 0);
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
        const QString hri = operation.value("data")["hri"].toString();
        const int top = hri == "above" || hri == "both" ? 24 : 0;
        QCOMPARE(ink(preview, QRect(0, top, 576, bars.height())).size(), bars);
    }

    // A QR code printed as an image keeps four modules of white all around.
    void imageQuietZone()
    {
        const QImage dots = stripes(render({op("qrcode", obj(R"({"text":"ABC","size":5,"native":false})"))}));
        QCOMPARE(dots.width(), (21 + 8) * 5);
        QCOMPARE(ink(dots), QRect(20, 20, 21 * 5, 21 * 5));
    }

    // A job whose code cannot print is refused whole, by /sendJob and /previewJob alike, naming the operation
    // and the reason; nothing reaches the printer.
    void refusals_data()
    {
        QTest::addColumn<QJsonValue>("data");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QFile file(QFINDTESTDATA("codes.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        for (const QJsonValue& row : QJsonDocument::fromJson(file.readAll())["refusals"].toArray())
            QTest::newRow(qPrintable(row["name"].toString()))
                << row["data"] << row["op"].toString() << row["reason"].toString();
        QTest::newRow("qrcode text over 2000 bytes")
            << QJsonValue(QJsonObject{{"text", QString(1001, QChar(0xE9))}}) << "qrcode"
            << "\"text\" is longer than 2000 bytes";
        QTest::newRow("qrcode text too long for H")
            << QJsonValue(QJsonObject{{"text", QString(1300, 'x')}, {"errorCorrection", "H"}, {"size", 1}}) << "qrcode"
            << "\"text\" is too long for a QR code with error correction H";
    }
    void refusals()
    {
        QFETCH(QJsonValue, data);
        QFETCH(QString, name);
        QFETCH(QString, reason);
        const QJsonArray job{op("text", "Fatura FT 1/1\n"), op("image", pngBase64(filled(8, 8, 0xFF000000))),
                             QJsonObject{{"op", name}, {"data", data}}, op("cut", "feed")};
        const QString error = QStringLiteral("Invalid job: operation 2 (%1): %2").arg(name, reason);
        const int before = m_printer->queue().jobs().size();
        for (const char* path : {"/sendJob", "/previewJob"}) {
            const QJsonObject reply = send(path, job);
            QCOMPARE(reply.value("status"), QJsonValue(false));
            QVERIFY2(reply.value("error").toString().startsWith(error), qPrintable(reply.value("error").toString()));
        }
        // Whoever prints without asking first still prints nothing.
        QVERIFY(!PrintJob(job, m_printer->queueName(), false).print());
        QCOMPARE(m_printer->queue().jobs().size(), before);
    }

    // A code that fits the paper only without the image's quiet zone, or on wider paper.
    void paperWidth()
    {
        const QJsonObject qr = op("qrcode", obj(R"({"text":"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx","size":16})"));
        QCOMPARE(JobCheck::problem({qr}, false), QString()); // 29 modules: 464 dots, 592 as an image
        QVERIFY(JobCheck::problem({qr}, true).endsWith("the code is 592 dots wide, the paper 576 (\"dotWidth\")"));
        QVERIFY(!JobCheck::problem({op("settings", obj(R"({"dotWidth":384})")), qr}, false).isEmpty());
        QCOMPARE(JobCheck::problem({op("settings", obj(R"({"dotWidth":640})")), qr}, true), QString());
    }
};

QLK_TEST_MAIN(TestCodes)
#include "tst_codes.moc"

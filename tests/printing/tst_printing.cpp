// Printing through a real CUPS scheduler to a capture printer; QR codes and barcodes read back by zbarimg; the receipt
// preview: bytes drawn on paper, jobs drawn from their bytes, `quorva-link --preview`, /previewJob.

#include "support/ApiServer.h"
#include "support/CapturePrinter.h"
#include "support/ProgramRunner.h"
#include "support/RenderSupport.h"
#include "support/TestMain.h"

#include "printing/CodeOperation.h"
#include "printing/CupsSpooler.h"
#include "printing/ESCImageManager.h"
#include "printing/JobCheck.h"
#include "printing/JobPreview.h"
#include "printing/NativeESCFakeSocket.h"
#include "printing/PrintJob.h"
#include "printing/Printer.h"
#include "printing/ReceiptFont.h"
#include "printing/ReceiptPreview.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QThreadPool>

#include <cups/cups.h>

#include <numeric>

class TestPrinting : public QObject, public RenderSupport
{
    Q_OBJECT

    std::unique_ptr<CapturePrinter> m_printer;
    std::unique_ptr<ApiServer> m_server;

    static QImage draw(const QByteArray& bytes) { return ReceiptPreview().draw(bytes); }
    static bool fontInstalled() { return ReceiptFont::family() == ReceiptFont::preferredFamily(); }

private slots:
    void initTestCase()
    {
        QLK_REQUIRE_CUPS();
        m_printer = std::make_unique<CapturePrinter>();
        QVERIFY2(m_printer->isValid(), qPrintable(m_printer->errorString()));
        m_server = std::make_unique<ApiServer>();
        QVERIFY2(m_server->isValid(), qPrintable(m_server->errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(m_server->printer(m_printer->queueName()), 15000);
        m_server->printer(m_printer->queueName())->setAvailable(true);
    }
    void cleanup() { Spooler::setFactory({}); }

    // An empty chunk would end CUPS's document stream early; a second start must not orphan the first.
    void deviceDocument()
    {
        QByteArray everyByte(256, 0);
        std::iota(everyByte.begin(), everyByte.end(), char(0));
        const QList<QByteArray> writes{"\x1B@", QByteArray(), everyByte, "\x1D\x56\x42\x0A"};
        const int jobsBefore = m_printer->jobs().size(), queuedBefore = m_printer->queue().jobs().size();
        {
            NativeESCFakeSocket device;
            QVERIFY(device.setPrinter(m_printer->queueName()));
            QVERIFY(device.startDocument() && device.startDocument());
            for (const QByteArray& bytes : writes)
                QCOMPARE(device.write(bytes), qint64(bytes.size()));
            device.endDocument();
            QVERIFY(!device.failed());
        }
        QVERIFY(m_printer->waitForJobs(jobsBefore + 1));
        QCOMPARE(m_printer->jobs().mid(jobsBefore), QList<QByteArray>{writes.join()});
        QCOMPARE(m_printer->queue().jobs().size(), queuedBefore + 1);
    }

    // A write the spooler refuses part-way cancels the document: no half receipt, and the job says so.
    void refusedWriteFailsJob()
    {
        // The real CUPS spooler, except that it refuses the fourth write without passing it on, as a spooler that
        // gives up mid-document would.
        struct RefusingSpooler : CupsSpooler
        {
            bool write(const char* data, qint64 size) override
            {
                return ++writes != 4 && CupsSpooler::write(data, size);
            }
            int writes = 0;
        };
        Spooler::setFactory([] { return std::make_unique<RefusingSpooler>(); });
        const QJsonArray receipt{op("alignment", 1), op("text", "Quorva Link\n"),
                                 op("image", "data:image/png;base64," + pngBase64(filled(40, 24, qRgb(128, 128, 128)))),
                                 op("text", "Balcão 1: total 12,50\n"), op("cut", "feed")};
        const int jobsBefore = m_printer->jobs().size(), queuedBefore = m_printer->queue().jobs().size();
        QVERIFY(!PrintJob(receipt, m_printer->queueName(), false).print());
        const QList<CupsQueue::Job> queued = m_printer->queue().jobs(); // one more, the refused one
        QCOMPARE(queued.size(), queuedBefore + 1);
        QCOMPARE(queued.constLast().state, int(IPP_JOB_CANCELED));

        // Jobs print in order: once the next receipt is in, nothing of the failed one came.
        Spooler::setFactory({});
        QVERIFY(PrintJob(receipt, m_printer->queueName(), false).print());
        QVERIFY(m_printer->waitForJobs(jobsBefore + 1));
        QCOMPARE(m_printer->jobs().mid(jobsBefore), QList<QByteArray>{render(receipt)});
    }

    // Stored under the Base64 SHA-1 of the Latin-1 name, whose slashes are groups to QSettings.
    void switchSurvivesRestart()
    {
        QLK_REQUIRE_PART(ProgramRunner::programPath().isEmpty() ? "QLK_PROGRAM is not set: run through ctest" : "");
        QCOMPARE(Printer::settingsId(QStringLiteral("Impressora Balc\u00E3o")), "yERC/pc+BHOXuKBaj89zI6za/I0=");
        QCOMPARE(Printer::settingsId(QStringLiteral("Caixa \u20AC")), "lbhZoXRh4ZiqzDhdRWS00/gUuYc=");
        QString name;
        for (int tries = 0; tries < 100000 && !Printer::settingsId(name).contains("//"); ++tries)
            name = CupsQueue::uniqueName(QStringLiteral("qlk-printer"));
        CupsQueue queue(name, QStringLiteral("socket://127.0.0.1:9")); // port 9 (discard): never printed to
        QVERIFY2(queue.isValid(), qPrintable(queue.errorString()));
        // What a fresh start of the program on these settings lists, while this one still runs.
        const auto afterRestart = [&] {
            ProgramRunner program(TestMain::configHome().path());
            program.start({"--devices"});
            program.process().waitForFinished(30000);
            return QString::fromLocal8Bit(program.process().readAllStandardOutput());
        };
        Printer printer(name);
        QVERIFY(!printer.available()); // never seen before: off, and nothing stored
        printer.setAvailable(true);
        QVERIFY(afterRestart().contains("  on   " + name + '\n'));
        printer.setAvailable(false);
        QVERIFY(afterRestart().contains("  off  " + name + '\n'));
    }

    // zbarimg reads the exact text back from the preview of the printer's commands, of the image sent instead, from
    // that image's dots, and from the preview in compatibility mode; the image shows the printer's modules, however
    // aligned; barcodes are as wide as their modules (2 to 6 dots; wide bars of CODE39 and ITF 5, 8, 10, 13, 15).
    void decoding_data()
    {
        QTest::addColumn<QJsonObject>("operation");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("alignment");
        QTest::addColumn<int>("width"); // of a barcode's bars
        const auto row = [](const char* name, QJsonObject data, const QString& text, int alignment, int width = 0) {
            if (!data.contains("type") && !data.contains("text"))
                data.insert("text", text);
            QTest::newRow(name) << op(data.contains("type") ? "barcode" : "qrcode", data) << text << alignment << width;
        };
        row("QR H, 2 dots, UTF-8", obj(R"({"errorCorrection":"H","size":2})"), "Balcão 1: 12,50 €", 1);
        row("EAN13", obj(R"({"type":"EAN13","text":"400638133393"})"), "4006381333931", 1, 95 * 3);
        row("EAN8", obj(R"({"type":"EAN8","text":"1234567","hri":"none"})"), "12345670", 2, 67 * 3);
        row("UPCA", obj(R"({"type":"UPCA","text":"03600029145","hri":"both"})"), "036000291452", 0, 95 * 3);
        // *QUORVA-39*: 11 characters of 3 wide and 6 narrow, a narrow gap between them.
        row("CODE39", obj(R"({"type":"CODE39","text":"QUORVA-39","width":2})"), "QUORVA-39", 1,
            11 * (3 * 5 + 6 * 2) + 10 * 2);
        // Start 4 narrow; 5 pairs of 4 wide and 6 narrow; stop 1 wide, 2 narrow.
        row("ITF, wide", obj(R"({"type":"ITF","text":"0123456789","width":4})"), "0123456789", 1,
            4 * 4 + 5 * (4 * 10 + 6 * 4) + 10 + 2 * 4);
        // Start, a symbol per character (set B), check: 11 modules each; stop 13.
        row("CODE128 B", QJsonObject{{"type", "CODE128"}, {"text", "Loja {1} #42"}, {"width", 2}}, "Loja {1} #42", 1,
            (11 + 12 * 11 + 11 + 13) * 2);
    }
    void decoding()
    {
        QLK_REQUIRE_PART(QStandardPaths::findExecutable("zbarimg").isEmpty() ? "no zbarimg (zbar-tools)" : "");
        QFETCH(QJsonObject, operation);
        QFETCH(QString, text);
        QFETCH(int, alignment);
        QFETCH(int, width);
        QJsonObject raster = operation, data = operation["data"].toObject();
        data["native"] = false;
        raster["data"] = data;
        QCOMPARE(JobCheck::problem({operation, raster}, false), QString());
        const auto draw = [&](const QJsonObject& code, bool compatibility = false) {
            return JobPreview::draw({op("alignment", alignment), code, op("text", "\n")}, compatibility);
        };
        const QImage native = draw(operation), image = draw(raster);
        const QByteArray bytes = render({raster});
        const QImage dots = stripes(bytes);
        for (const QImage& picture : {native, image, dots, draw(operation, true)})
            QCOMPARE(zbarimg(picture), text);
        QVERIFY(!bytes.contains("\x1D\x6B") && !bytes.contains("\x1D\x28\x6B")); // no code commands

        // The same modules: a QR code in the image keeps four modules of white all around, but the same dots.
        const QRect nativeInk = ink(native), imageInk = ink(image), dotsInk = ink(dots);
        if (width)
            QCOMPARE(nativeInk.width(), width);
        const int quiet = 4 * data["size"].toInt();
        if (operation["op"] == "qrcode")
            QCOMPARE(dotsInk.adjusted(-quiet, -quiet, quiet, 0), QRect(0, 0, dots.width(), dotsInk.bottom() + 1));
        QCOMPARE(rgb(image.copy(imageInk)), rgb(native.copy(nativeInk)));
        const int offAlignment[] = {nativeInk.left(), nativeInk.center().x() - imageInk.center().x(),
                                    575 - nativeInk.right()}; // flush left, centred alike, flush right
        QCOMPARE(offAlignment[alignment], 0);

        // In compatibility mode both print as the image in the compatible stripe form.
        const CodeOperation code(operation["op"].toString(), operation["data"]);
        QCOMPARE(render({operation}, true).toHex(' '), ESCImageManager::bitImage(code.picture(), true).toHex(' '));
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
        const QJsonObject body{{"printer", m_printer->queueName()}, {"job", job}};
        for (const char* path : {"/sendJob", "/previewJob"}) {
            const QJsonObject reply = m_server->client().postJson(path, body, m_server->bearer()).json();
            QCOMPARE(reply.value("status"), QJsonValue(false));
            QVERIFY2(reply.value("error").toString().startsWith(error), qPrintable(reply.value("error").toString()));
        }
        // Whoever prints without asking first still prints nothing.
        QVERIFY(!PrintJob(job, m_printer->queueName(), false).print());
        QCOMPARE(m_printer->queue().jobs().size(), before);
    }

    // A code that fits the paper only without the image's quiet zone, or on wider paper; the preview's paper is 576
    // for a nonsense dotWidth.
    void paperWidth()
    {
        const QJsonObject qr = op("qrcode", obj(R"({"text":"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx","size":16})"));
        const QJsonObject narrow = op("settings", obj(R"({"dotWidth":384})"));
        QCOMPARE(JobCheck::problem({qr}, false), QString()); // 29 modules: 464 dots, 592 as an image
        QVERIFY(JobCheck::problem({qr}, true).endsWith("the code is 592 dots wide, the paper 576 (\"dotWidth\")"));
        QVERIFY(!JobCheck::problem({narrow, qr}, false).isEmpty());
        QCOMPARE(JobCheck::problem({op("settings", obj(R"({"dotWidth":640})")), qr}, true), QString());
        QStringList notes;
        const QJsonArray nonsense{op("settings", obj(R"({"dotWidth":100000})")), op("text", "x\n")};
        QCOMPARE(JobPreview::draw(nonsense, false, &notes).width(), 576);
        QVERIFY(notes.join(' ').contains("\"dotWidth\" 100000 is no paper width"));
    }

    // Every dot of an image region is the dithered bit the printer gets, dots scaled for single density.
    void images_data()
    {
        QTest::addColumn<QJsonObject>("settings");
        QTest::addColumn<bool>("compatibility");
        QTest::addColumn<int>("alignment");
        QTest::newRow("double density") << QJsonObject() << false << 0;
        QTest::newRow("single density, centred") << obj(R"({"lowDensity":true})") << false << 1;
        QTest::newRow("page mode") << obj(R"({"imagePrintMode":1})") << false << 0;
        QTest::newRow("compatibility, right") << QJsonObject() << true << 2;
    }
    void images()
    {
        QFETCH(QJsonObject, settings);
        QFETCH(bool, compatibility);
        QFETCH(int, alignment);
        QImage picture(97, 61, QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y, qRgb((x * 37 + y * 11) % 256, (x * 3 + y * 5) % 256, (x * y) % 256));
        const bool low = settings.value("lowDensity").toBool(), page = settings.value("imagePrintMode").toInt() == 1;
        settings.insert("hasCutter", true);
        QStringList notes;
        const QImage preview = JobPreview::draw({op("settings", settings), op("alignment", alignment),
                                                 op("image", pngBase64(picture)), op("cut", "no_feed")},
                                                compatibility, &notes);
        // The blank rows that pad the last stripe are no ink past the print area.
        QVERIFY2(notes.isEmpty() || !fontInstalled(), qPrintable(notes.join('\n')));

        ESCImageManager manager;
        manager.setImage(picture, low ? 48 : 97, low ? 20 : 61, !low, page ? 1 : 0, compatibility);
        const QImage dots = stripes(manager.render());
        const int dotWidth = low ? 2 : 1, dotHeight = low ? 3 : 1, width = dots.width() * dotWidth;
        // Page mode has no justification, and its print area leaves out the rows that pad the last stripe.
        const int left = alignment == 1 ? (576 - width) / 2 : alignment == 2 ? 576 - width : 0;
        const QRect printed =
            page ? QRect(0, 0, width, (low ? 20 : 61) * dotHeight) : QRect(left, 0, width, dots.height() * dotHeight);
        int differences = 0;
        for (int y = 0; y < printed.bottom() + 3; ++y)
            for (int x = 0; x < 576; ++x)
                differences +=
                    (qGray(preview.pixel(x, y)) < 128) !=
                    (printed.contains(x, y) && qGray(dots.pixel((x - printed.left()) / dotWidth, y / dotHeight)) < 128);
        QCOMPARE(differences, 0);
    }

    // Text as the printer sets it: a character drawn from its byte in one code page is the same cell as from its
    // byte in another (ã in 860 and 1252, € in 1252 and 858, é in 437 and 1252).
    void text()
    {
        QLK_REQUIRE_PART(fontInstalled() ? "" : "DejaVu Sans Mono is not installed (fonts-dejavu-core)");
        for (const auto& [one, other] : QList<QPair<const char*, const char*>>{{"1B 74 03 84 0A", "1B 74 10 E3 0A"},
                                                                               {"1B 74 10 80 0A", "1B 74 13 D5 0A"},
                                                                               {"82 0A", "1B 74 10 E9 0A"}}) {
            const QImage image = draw(hex(one));
            QVERIFY2(!ink(image).isNull() && image == draw(hex(other)) && image != draw(hex("61 0A")), one);
        }
    }

    // A fault ends the drawing with a note under what came before it; other findings are noted under it all.
    void notes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("note");
        QTest::addColumn<bool>("stops");
        const auto row = [](const char* name, const QByteArray& bytes, const char* note, bool stops) {
            QTest::newRow(name) << hex("2D 0A") + bytes << note << stops; // "-", a line feed, then the case
        };
        row("unknown command", hex("1C 70 01 00 2D 0A"), "Unknown command 1C at byte 2", true);
        row("image cut off", hex("1B 2A 21 10 00 FF FF"), "The command 1B 2A 21 at byte 2", true);
        row("unknown image mode", hex("1B 2A 05 01 00 FF 2D 0A"), "unknown mode 5", true);
        row("no line end", hex("2D"), "The last line has no line end", true);
        row("page without FF", hex("1B 4C 2D 0A"), "never got its FF", true);
        row("lost characters", hex("00 2D 00 0A"), "2 character(s) that no code page holds", false);
        row("unknown code page", hex("1B 74 05 41 0A"), "Code page 5 is none", false);
        row("image too wide", hex("1B 2A 21 60 02") + QByteArray(608 * 3, '\xFF') + hex("0A"),
            "does not fit the 576 dots", false);
        row("ink past the print area",
            hex("1B 4C 1B 57 00 00 00 00 10 00 1E 00 1B 4A 14 1B 2A 21 01 00 00 00 FF 0A 0C"),
            "runs past its print area of 16 x 30 dots", false);
        // The strip stops at 20,000 dots, however the paper grows; ESC @ throws a page away and the next one extends
        // the paper again, without end.
        row("line feeds past the limit", hex("1B 33 FF") + QByteArray(100, '\n'), "longer than 20000 dots", true);
        row("page past the limit", hex("1B 4C 1B 57 00 00 00 00 40 02 FF FF 0C"), "longer than 20000 dots", true);
        row("redrawing without end", hex("1B 4C 1B 57 00 00 38 4A 40 02 E8 03 1B 2A 00 01 00 FF 0A 1B 40").repeated(20),
            "draws over the same paper again and again", true);
    }
    void notes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, note);
        QFETCH(bool, stops);
        ReceiptPreview preview;
        const QImage image = preview.draw(bytes);
        const QStringList notes = preview.notes();
        QVERIFY2(notes.join('\n').contains(note), qPrintable(notes.join('\n')));
        QVERIFY(image.height() < 20200);
        const QImage before = draw(hex("2D 0A"));
        QCOMPARE(image.copy(0, 0, 576, before.height()), before);
        const int end = stops ? before.height() : before.height() + 30;
        QVERIFY(ink(image, QRect(0, end, 576, 8)).isNull());
        if (fontInstalled())
            QVERIFY(!ink(image, QRect(0, end + 8, 576, image.height())).isNull());
    }

    // quorva-link --preview: the picture beside the job or where --output says, the notes on the error output; options
    // that would overwrite the job give exit code 2, before anything starts, and one line that says why.
    void commandLine()
    {
        QLK_REQUIRE_PART(ProgramRunner::programPath().isEmpty() ? "QLK_PROGRAM is not set: run through ctest" : "");
        QTemporaryDir dir;
        const auto path = [&](const char* name) { return dir.filePath(QLatin1String(name)); };
        const QJsonArray job{op("alignment", 1), op("text", "Obrigado pela visita!\n"), op("cut", "feed")};
        const QJsonArray noted = QJsonArray(job) << op("image", "ftp://x/y.png"); // an image that cannot be had
        const QByteArray jobBytes = QJsonDocument(QJsonObject{{"printer", "EPSON"}, {"job", job}}).toJson();
        for (const auto& [name, bytes] : QList<QPair<const char*, QByteArray>>{
                 {"job.json", jobBytes}, {"array.json", QJsonDocument(noted).toJson()}}) {
            QFile file(path(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        }
        QString errors;
        const auto run = [&](const QStringList& arguments) {
            QProcess process;
            process.start(ProgramRunner::programPath(), arguments);
            const bool finished = process.waitForFinished(60000);
            errors = QString::fromUtf8(process.readAllStandardError());
            return finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        };
        QCOMPARE(run({"--preview", path("job.json")}), 0);
        QCOMPARE(run({"--preview", path("array.json"), "--output", path("out.png"), "-platform", "offscreen"}), 0);
        QVERIFY2(errors.contains("note: Operation 3 (image) is not printed: not an http(s)"), qPrintable(errors));
        QCOMPARE(rgb(QImage(path("job.png"))), rgb(JobPreview::draw(job, false)));
        QCOMPARE(rgb(QImage(path("out.png"))), rgb(JobPreview::draw(noted, false)));
        const QString sameJob = path("../") + dir.path().section('/', -1) + "/job.json"; // by another way
        QCOMPARE(run({"--preview", path("job.json"), "-o", sameJob}), 2);
        QVERIFY2(errors.startsWith("quorva-link: ") && errors.contains("the picture would overwrite the job") &&
                     errors.indexOf('\n') == errors.size() - 1,
                 qPrintable(errors));
        QFile jobFile(path("job.json"));
        QVERIFY(jobFile.open(QIODevice::ReadOnly) && jobFile.readAll() == jobBytes);
    }

    // /previewJob: the picture as a data URL; the errors of /sendJob; no printer needed.
    void endpoint()
    {
        const ApiServer& server = *m_server;
        const ApiClient client = server.client();
        const QJsonArray job{op("double", obj(R"({"width":true})")), op("text", "Olá\n"), op("cut", "feed")};
        const auto picture = [](const ApiReply& reply) {
            const QString data = reply.json().value("data").toString();
            return reply.json().value("status") == true && data.startsWith("data:image/png;base64,")
                       ? rgb(QImage::fromData(QByteArray::fromBase64(data.mid(22).toLatin1()), "PNG"))
                       : QImage();
        };
        const QByteArray key = "securityKey=" + server.keyBytes();
        const QByteArray text = QUrl::toPercentEncoding(QJsonDocument(job).toJson(QJsonDocument::Compact));
        for (const auto& [reply, compatibility] : QList<QPair<ApiReply, bool>>{
                 {client.postJson("/previewJob/", QJsonObject{{"job", job}}, server.bearer()), false},
                 {client.request("POST", "/previewJob", {}, key + "&compatibilityMode=1&job=" + text), true}})
            QCOMPARE(picture(reply), rgb(JobPreview::draw(job, compatibility)));
        QCOMPARE(client.request("POST", "/previewJob", {}, key + "&job=%7B%7D").json(),
                 QJsonObject({{"status", false}, {"error", "Job with incorrect format"}}));

        // A preview waiting for its image holds up no other request: the API lock is not held while drawing.
        QTcpServer images;
        QVERIFY(images.listen(QHostAddress::LocalHost));
        const QString url = QStringLiteral("http://127.0.0.1:%1/logo.png").arg(images.serverPort());
        ApiReply waiting;
        QThreadPool previewer; // waits for it however the test ends; the image download times out at worst
        previewer.start([&] {
            waiting = server.client().postJson(
                "/previewJob", QJsonObject{{"job", QJsonArray{op("image", url), op("text", "x\n")}}}, server.bearer());
        });
        QTRY_VERIFY_WITH_TIMEOUT(images.hasPendingConnections(), 20000);
        std::unique_ptr<QTcpSocket> download(images.nextPendingConnection());
        QCOMPARE(client.get("/getStatus", server.bearer()).json().value("data").toString(), "Device online");
        QCOMPARE(previewer.activeThreadCount(), 1);
        download.reset(); // no image: the preview goes on without it
        QVERIFY(previewer.waitForDone(20000));
        QCOMPARE(waiting.json().value("status"), QJsonValue(true));
    }
};

QLK_TEST_MAIN(TestPrinting)
#include "tst_printing.moc"

// The receipt preview: bytes drawn on paper, jobs drawn from their bytes, `quorva-link --preview`, /previewJob.

#include "preview/PreviewChecks.h"
#include "printing/ESCImageManager.h"
#include "printing/JobPreview.h"
#include "printing/ReceiptFont.h"
#include "printing/ReceiptPreview.h"
#include "support/ApiServer.h"
#include "support/TestMain.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QThreadPool>

// Text needs DejaVu Sans Mono through fontconfig.
#define REQUIRE_FONT() QLK_REQUIRE_PART(fontInstalled() ? "" : "DejaVu Sans Mono is not installed (fonts-dejavu-core)")

class TestPreview : public QObject, public PreviewChecks
{
    Q_OBJECT

    static QImage draw(const QByteArray& bytes, QStringList* notes = nullptr)
    {
        ReceiptPreview preview;
        const QImage image = preview.draw(bytes);
        if (notes)
            *notes = preview.notes();
        return image;
    }
    static QImage drawJob(const QJsonArray& job, bool compatibility = false, QStringList* notes = nullptr)
    {
        return JobPreview::draw(job, compatibility, notes);
    }
    static bool fontInstalled() { return ReceiptFont::family() == ReceiptFont::preferredFamily(); }

private slots:
    // Every dot of an image region is the dithered bit the printer gets, dots scaled for single density.
    void images_data()
    {
        QTest::addColumn<QJsonObject>("settings");
        QTest::addColumn<bool>("compatibility");
        QTest::addColumn<int>("alignment");
        QTest::newRow("double density") << QJsonObject() << false << 0;
        QTest::newRow("single density, centred") << obj(R"({"lowDensity":true})") << false << 1;
        QTest::newRow("page mode") << obj(R"({"imagePrintMode":1})") << false << 0;
        QTest::newRow("page mode, single density") << obj(R"({"imagePrintMode":1,"lowDensity":true})") << false << 0;
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
        const QImage preview = drawJob({op("settings", settings), op("alignment", alignment),
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

    // 64 condensed characters fill 576 dots on one line; a 65th wraps, as on the printer.
    void condensedLine()
    {
        REQUIRE_FONT();
        const QRect condensed = ink(drawJob({op("condensed", true), op("text", QString(64, 'M') + '\n')}));
        QVERIFY(condensed.left() < 9 && condensed.right() > 576 - 9 && condensed.height() <= 17);
        QVERIFY(ink(draw(hex("1B 21 01") + QByteArray(65, 'M') + hex("0A"))).height() > 30);
    }

    // A character drawn from its byte in one code page is the same cell as from its byte in another: ã in 860 and
    // 1252, € in 1252 and 858, é in 437 and 1252.
    void codePages()
    {
        REQUIRE_FONT();
        for (const auto& [one, other] : QList<QPair<const char*, const char*>>{{"1B 74 03 84 0A", "1B 74 10 E3 0A"},
                                                                               {"1B 74 10 80 0A", "1B 74 13 D5 0A"},
                                                                               {"82 0A", "1B 74 10 E9 0A"}}) {
            const QImage image = draw(hex(one));
            QVERIFY2(!ink(image).isNull() && image == draw(hex(other)) && image != draw(hex("61 0A")), one);
        }
    }

    // Every form of cut and a drawer pulse are known commands that leave a mark on the paper.
    void marks()
    {
        for (const char* bytes : {"1D 56 42 0A", "1D 56 31", "1D 56 00", "1B 70 01 78 FA"}) {
            QStringList notes;
            QVERIFY2(!ink(draw(hex(bytes), &notes)).isNull() && (notes.isEmpty() || !fontInstalled()), bytes);
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
        row("unknown ESC", hex("1B 28 41 2D 0A"), "Unknown command 1B 28 at byte 2", true);
        row("image cut off", hex("1B 2A 21 10 00 FF FF"), "The command 1B 2A 21 at byte 2", true);
        row("stream ends in ESC", hex("1B"), "The command 1B at byte 2 is cut off", true);
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
        // ESC @ throws the page away and the next one extends the paper again, without end.
        row("redrawing without end", hex("1B 4C 1B 57 00 00 38 4A 40 02 E8 03 1B 2A 00 01 00 FF 0A 1B 40").repeated(20),
            "draws over the same paper again and again", true);
    }
    void notes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, note);
        QFETCH(bool, stops);
        QStringList notes;
        const QImage image = draw(bytes, &notes);
        QVERIFY2(notes.join('\n').contains(note), qPrintable(notes.join('\n')));
        const QImage before = draw(hex("2D 0A"));
        QCOMPARE(image.copy(0, 0, 576, before.height()), before);
        const int end = stops ? before.height() : before.height() + 30;
        QVERIFY(ink(image, QRect(0, end, 576, 8)).isNull());
        if (fontInstalled())
            QVERIFY(!ink(image, QRect(0, end + 8, 576, image.height())).isNull());
    }

    // The strip stops at 20,000 dots with a note; paper as wide as the job's dotWidth, or 576 for nonsense.
    void limits()
    {
        QStringList notes;
        const QImage longOne = draw(hex("1B 33 FF") + QByteArray(100, '\n'), &notes);
        QVERIFY(longOne.height() >= 20000 && longOne.height() < 20200);
        QVERIFY(notes.join(' ').contains("longer than 20000 dots"));
        QVERIFY(!draw(hex("1B 4C 1B 57 00 00 00 00 40 02 FF FF 0C"), &notes).isNull());
        QVERIFY(notes.join(' ').contains("longer than 20000 dots"));
        QCOMPARE(drawJob({op("settings", obj(R"({"dotWidth":384})")), op("text", "x\n")}).width(), 384);
        QCOMPARE(drawJob({op("settings", obj(R"({"dotWidth":100000})")), op("text", "x\n")}, false, &notes).width(),
                 576);
        QVERIFY(notes.join(' ').contains("\"dotWidth\" 100000 is no paper width"));
    }

    // quorva-link --preview: the picture beside the job or where --output says; a mistake gives a non-zero exit
    // (2 for the options, before anything starts) and one line that says why.
    void commandLine()
    {
        const QString program = qEnvironmentVariable("QLK_PROGRAM");
        QLK_REQUIRE_PART(program.isEmpty() ? "QLK_PROGRAM is not set: run through ctest" : "");
        QTemporaryDir dir;
        const auto path = [&](const char* name) { return dir.filePath(QLatin1String(name)); };
        const QJsonArray job{op("alignment", 1), op("text", "Obrigado pela visita!\n"), op("cut", "feed")};
        const QByteArray jobBytes = QJsonDocument(QJsonObject{{"printer", "EPSON"}, {"job", job}}).toJson();
        for (const auto& [name, bytes] : QList<QPair<const char*, QByteArray>>{
                 {"job.json", jobBytes},
                 {"array.json", QJsonDocument(job).toJson()},
                 {"broken.json", "[{\"op\": "},
                 {"images.json",
                  QJsonDocument(QJsonArray{op("text", "x\n"), op("image", "ftp://x/y.png")}).toJson()}}) {
            QFile file(path(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        }
        QString errors;
        const auto run = [&](const QStringList& arguments) {
            QProcess process;
            process.start(program, arguments);
            const bool finished = process.waitForFinished(60000);
            errors = QString::fromUtf8(process.readAllStandardError());
            return finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        };
        QCOMPARE(run({"--preview", path("job.json")}), 0);
        QCOMPARE(run({"--preview", path("array.json"), "--output", path("out.png")}), 0);
        QCOMPARE(rgb(QImage(path("job.png"))), rgb(drawJob(job)));
        QCOMPARE(rgb(QImage(path("out.png"))), rgb(drawJob(job)));
        QCOMPARE(run({"--preview", path("images.json"), "-platform", "offscreen"}), 0);
        // The notes go to the error output.
        QVERIFY2(errors.contains("note: Operation 1 (image) is not printed: not an http(s)"), qPrintable(errors));
        const QList<std::tuple<QStringList, int, QString>> mistakes{
            {{"--previw", path("job.json")}, 2, "unknown option --previw (see quorva-link --help)"},
            {{"DebugModeOn", "--output", path("x.png")}, 2, "--output only goes with --preview JOB.json"},
            {{"--preview", path("job.json"), "-o", path("../") + dir.path().section('/', -1) + "/job.json"},
             2,
             "--output names the job file itself; the picture would overwrite the job"},
            {{"--preview"}, 2, "--preview needs the job file"},
            {{"--preview", path("broken.json")}, 1, "is not JSON"},
            {{"--preview", path("job.json"), "--output", path("no/such/dir.png")}, 1, "cannot write"},
        };
        for (const auto& [arguments, code, message] : mistakes) {
            QCOMPARE(run(arguments), code);
            QVERIFY2(errors.startsWith("quorva-link: ") && errors.contains(message) &&
                         errors.indexOf('\n') == errors.size() - 1,
                     qPrintable(errors));
        }
        QFile jobFile(path("job.json"));
        QVERIFY(jobFile.open(QIODevice::ReadOnly) && jobFile.readAll() == jobBytes);
        QVERIFY(!QFile::exists(path("x.png")));
    }

    // /previewJob: keyed; the picture as a data URL; the errors of /sendJob; no printer needed.
    void endpoint()
    {
        ApiServer server;
        QVERIFY2(server.isValid(), qPrintable(server.errorString()));
        const ApiClient client = server.client();
        const QJsonArray job{op("double", obj(R"({"width":true})")), op("text", "Olá\n"), op("cut", "feed")};
        QCOMPARE(client.postJson("/previewJob", QJsonObject{{"job", job}}).status, 401);
        const auto picture = [](const ApiReply& reply) {
            const QString data = reply.json().value("data").toString();
            return reply.status == 200 && reply.json().value("status") == true &&
                           data.startsWith("data:image/png;base64,")
                       ? rgb(QImage::fromData(QByteArray::fromBase64(data.mid(22).toLatin1()), "PNG"))
                       : QImage();
        };
        for (bool compatibility : {false, true})
            QCOMPARE(
                picture(client.postJson("/previewJob/", QJsonObject{{"job", job}, {"compatibilityMode", compatibility}},
                                        server.bearer())),
                rgb(drawJob(job, compatibility)));
        const QByteArray key = "securityKey=" + server.keyBytes();
        const QByteArray form =
            key + "&job=" + QUrl::toPercentEncoding(QJsonDocument(job).toJson(QJsonDocument::Compact));
        QCOMPARE(picture(client.request("POST", "/previewJob", {}, form)), rgb(drawJob(job)));
        for (const auto& [reply, error] : QList<QPair<ApiReply, QString>>{
                 {client.postJson("/previewJob", QJsonObject{{"job", "[1]"}}, server.bearer()), "Job is empty"},
                 {client.request("POST", "/previewJob", {}, key + "&job=%7B%7D"), "Job with incorrect format"},
                 {client.request("POST", "/previewJob", {}, key), "Job with incorrect format"}})
            QCOMPARE(reply.json(), QJsonObject({{"status", false}, {"error", error}}));

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

QLK_TEST_MAIN(TestPreview)
#include "tst_preview.moc"

// Jobs rendered to ESC/POS bytes: golden jobs (jobs.json, codes included), code pages, wrapping, images.

#include "printing/CodePages.h"
#include "printing/ESCImageManager.h"
#include "printing/ImageLoader.h"
#include "printing/PngDecoder.h"
#include "printing/PrintJob.h"
#include "printing/generated/CodePageTables.h"
#include "support/ImageServer.h"
#include "support/RenderSupport.h"
#include "support/TestMain.h"

class TestRendering : public QObject, public RenderSupport
{
    Q_OBJECT

    static constexpr QRgb white = 0xFFFFFFFF, black = 0xFF000000;

    static QJsonDocument golden(const char* name)
    {
        QFile file(QFINDTESTDATA(name));
        return QJsonDocument::fromJson(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    static QByteArray raster(const QImage& image)
    {
        ESCImageManager manager;
        manager.setImage(image, image.width(), image.height(), true, 0, false);
        return manager.render();
    }

private slots:
    void operations_data()
    {
        QTest::addColumn<bool>("compatibility");
        QTest::addColumn<QJsonArray>("operations");
        QTest::addColumn<QByteArray>("bytes");
        for (const QJsonValue& row : golden("jobs.json").array())
            QTest::newRow(qPrintable(row["name"].toString()))
                << row["compatibility"].toBool() << row["job"].toArray() << hex(qPrintable(row["bytes"].toString()));
        QTest::newRow("QR of 300 bytes: two length bytes")
            << false << QJsonArray{QJsonObject{{"op", "qrcode"}, {"data", QJsonObject{{"text", QString(300, 'x')}}}}}
            << hex("1B 40 | 1D 28 6B 04 00 31 41 32 00 1D 28 6B 03 00 31 43 06 1D 28 6B 03 00 31 45 31 1D 28 6B 2F 01 "
                   "31 50 30") +
                   QByteArray(300, 'x') + hex("1D 28 6B 03 00 31 51 30");
    }
    void operations()
    {
        QFETCH(bool, compatibility);
        QFETCH(QJsonArray, operations);
        QFETCH(QByteArray, bytes);
        QCOMPARE(render(operations, compatibility).toHex(' '), bytes.toHex(' '));
    }

    // The generated tables against an independent source, the system's iconv. Bytes with no character, the
    // no-break space and the soft hyphen print as a space: they go to iconv as one.
    void pagesMatchIconv()
    {
        for (const auto& [page, name] :
             QList<QPair<int, const char*>>{{0, "CP437"}, {3, "CP860"}, {16, "CP1252"}, {19, "CP858"}}) {
            const QByteArray spaces = page == 16 ? hex("81 8D 8F 90 9D A0 AD") : hex("FF");
            QProcess iconv;
            iconv.start("iconv", {"-f", name, "-t", "UTF-16LE"});
            for (int b = 1; b < 256; ++b)
                iconv.write(QByteArray(1, spaces.contains(char(b)) ? ' ' : char(b)));
            iconv.closeWriteChannel();
            QVERIFY2(iconv.waitForFinished(30000), "iconv is not installed");
            const QByteArray utf16 = iconv.readAllStandardOutput();
            QCOMPARE(utf16.size(), 2 * 255);
            for (int b = 1; b < 256; ++b)
                QVERIFY2(CodePageTables::pages[page][b - 1] ==
                             (quint8(utf16[2 * b - 2]) | quint8(utf16[2 * b - 1]) << 8),
                         qPrintable(QStringLiteral("%1 %2").arg(name).arg(b)));
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
        QTest::addColumn<QString>("lines");
        for (const QJsonValue& row : golden("wrap.json").array())
            QTest::newRow(qPrintable(row[0].toString())) << row[1].toString() << row[2].toInt() << row[3].toString();
    }
    void wrapText()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(QString, lines);
        QCOMPARE(PrintJob::wrapText(text, width), lines);
    }

    // Golden bytes from a separate transcription of the rasterising rules (tools/dither_reference.py) for a 7 x 30
    // pattern in every pixel format: odd width (padded RGB565 rows), both scan directions, several stripes, the last
    // one partly filled. Palette and 1-bit images with transparency print their dark pixels, as in 32 bits.
    void rasterising()
    {
        const QByteArray bytes =
            hex("1D 50 00 00 1B 33 00 1B 2A 21 07 00 F5 55 00 5E B4 54 51 40 03 48 03 FE 01 BF 75 FB "
                "F5 88 04 88 20 1B 64 00 1B 2A 21 07 00 00 00 00 A4 00 00 BC 00 00 E4 00 00 18 00 00 "
                "80 00 00 0C 00 00 1B 64 00");
        QImage pattern(7, 30, QImage::Format_RGB32);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 7; ++x)
                pattern.setPixel(x, y, qRgb((x * 37 + y * 11) % 256, (x * 53 + y * 7) % 256, (x * 19 + y * 29) % 256));
        for (QImage::Format format : {QImage::Format_RGB32, QImage::Format_RGB888, QImage::Format_ARGB32})
            QCOMPARE(raster(pattern.convertToFormat(format)).toHex(' '), bytes.toHex(' '));
        for (QImage::Format format : {QImage::Format_Indexed8, QImage::Format_Mono}) {
            QImage image(5, 4, format);
            image.setColorTable({qRgba(0, 0, 0, 0), black});
            image.fill(0);
            image.setPixel(1, 1, 1);
            image.setPixel(3, 2, 1);
            QCOMPARE(raster(image).toHex(' '), raster(image.convertToFormat(QImage::Format_ARGB32)).toHex(' '));
            QVERIFY(raster(image) != raster(filled(5, 4, white)));
        }
    }

    // The fast path gives exactly what Qt's own decoder gives, or leaves the image to it.
    void pngFastPath()
    {
        if (!PngDecoder::available())
            QSKIP("built without libdeflate");
        // Smooth parts and noisy parts, so that the writer picks every row filter.
        const auto noise = [](int w, int h, QImage::Format format) {
            QImage image(w, h, QImage::Format_ARGB32);
            QRandomGenerator random(w * h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    image.setPixel(x, y, (x + y) % 7 < 3 ? random.generate() : qRgba(x * 3, y * 5, x + y, 255 - x));
            return png(image.convertToFormat(format));
        };
        QByteArray corrupt = noise(30, 30, QImage::Format_RGB32);
        corrupt[corrupt.size() / 2] = char(corrupt[corrupt.size() / 2] ^ 0x55);
        for (const auto& [bytes, decoded] :
             QList<QPair<QByteArray, bool>>{{noise(61, 40, QImage::Format_Grayscale8), true},
                                            {noise(77, 33, QImage::Format_RGB32), true},
                                            {noise(1500, 3, QImage::Format_ARGB32), true},
                                            {noise(20, 20, QImage::Format_Indexed8), false},
                                            {corrupt, false}}) {
            QImage fast;
            QCOMPARE(PngDecoder::decode(bytes, &fast), decoded);
            const QImage reference = QImage::fromData(bytes, "PNG");
            QVERIFY(!decoded || (fast.format() == reference.format() && fast == reference));
        }
    }

    // An image that cannot be had is skipped, with a line in the log; the job goes on.
    void imagesThatCannotPrint()
    {
        ImageServer server;
        QVERIFY(server.start());
        const QImage picture = filled(4, 1, black);
        server.serve(QStringLiteral("/black.png"), png(picture));
        server.serve(QStringLiteral("/huge.png"), png(picture), 200, ImageLoader::maxDownloadBytes + 1);
        server.serve(QStringLiteral("/error.png"), png(picture), 500);
        server.serve(QStringLiteral("/silent.png"), {}, 0);
        // 32 megapixels announced in the header: refused before any pixel is decoded.
        QImage huge(8000, 4000, QImage::Format_Mono);
        huge.fill(0);
        // The second silent image finds the job's time for downloads used up by the first.
        QJsonArray job;
        for (const QString& image :
             {server.url("/black.png"), server.url("/huge.png"), server.url("/error.png"), server.url("/missing.png"),
              QStringLiteral("httpfile:///etc/passwd"), server.url("/silent.png"), server.url("/silent.png"),
              QStringLiteral("bm90IGFuIGltYWdl"), pngBase64(huge)})
            job.append(QJsonObject{{"op", "image"}, {"data", image}});
        for (const char* message : {"ImageLoader: not an http(s) address, image skipped: \"httpfile:///etc/passwd\"",
                                    "ImageLoader: image of 8000 x 4000 is too large, skipped",
                                    "ImageLoader: download abandoned, image skipped: larger than 16777216 bytes",
                                    "ImageLoader: download abandoned, image skipped: no answer in time",
                                    "PrintJob: the job's 3000 ms for image downloads are used up, image skipped"})
            QTest::ignoreMessage(QtDebugMsg, message);
        job.append(QJsonObject{{"op", "text"}, {"data", "ok"}});
        PrintJob printJob(job, QStringLiteral("memory"), false);
        printJob.setImageTimeout(3000);
        // The body counts, not the status: an error page that is a picture prints; "not found" text does not.
        const QByteArray printed = raster(picture) + hex("1B 40");
        const QByteArray skipped = hex("1D 50 00 00 | 1B 33 00 | 1B 40");
        QCOMPARE(render(printJob).toHex(' '),
                 (hex("1B 40") + printed + skipped + printed + skipped.repeated(6) + hex("1B 74 00 6F 6B")).toHex(' '));
        QStringList reasons;
        for (const char* reason :
             {"1 (image) is not printed: larger than 16777216 bytes",
              "3 (image) is not printed: no image that can be read", "4 (image) is not printed: not an http(s) address",
              "5 (image) is not printed: no answer in time",
              "6 (image) is not printed: the job's 3000 ms for image downloads were used up",
              "7 (image) is not printed: no PNG image", "8 (image) is not printed: 8000 x 4000 pixels is too large"})
            reasons << QLatin1String("Operation ") + reason + '.';
        QCOMPARE(printJob.skippedImages(), reasons);
        // Sizes are limited as they arrive: no compressed answers.
        QVERIFY2(server.lastHead().contains("\r\nAccept-Encoding: identity\r\n"), server.lastHead().constData());

        // Nothing to fetch where nothing will print (other print modes); the bytes stay as they were.
        const int asked = server.requests();
        job.prepend(QJsonObject{{"op", "settings"}, {"data", QJsonObject{{"imagePrintMode", 2}}}});
        PrintJob notPrinted(QJsonArray{job.first(), job.at(1), job.last()}, QStringLiteral("memory"), false);
        notPrinted.fetchImages();
        QCOMPARE(render(notPrinted).toHex(' '), hex("1B 40 | 1B 40 | 1B 74 00 6F 6B").toHex(' '));
        QCOMPARE(server.requests(), asked);
        QVERIFY(notPrinted.skippedImages().isEmpty());
    }
};

QLK_TEST_MAIN_CORE(TestRendering)
#include "tst_rendering.moc"

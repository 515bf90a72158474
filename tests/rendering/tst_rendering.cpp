// Jobs rendered to ESC/POS bytes: golden jobs (jobs.json, codes included), code pages, wrapping, images.

#include "printing/CodePages.h"
#include "printing/ESCImageManager.h"
#include "printing/ImageLoader.h"
#include "printing/PngDecoder.h"
#include "printing/PrintJob.h"
#include "support/ImageServer.h"
#include "support/RenderSupport.h"
#include "support/TestMain.h"

class TestRendering : public QObject, public RenderSupport
{
    Q_OBJECT

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

    // Entries of the table; a space for a character it lacks, and for each half of a pair of surrogates.
    void foldToAscii()
    {
        QCOMPARE(CodePages::foldToAscii(QStringLiteral("\u00DF\uFB03\u2014\u00A9x\U0001F600a\u00A0b\u00ADc")),
                 "ssffi- x  a b c");
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
            image.setColorTable({qRgba(0, 0, 0, 0), qRgb(0, 0, 0)});
            image.fill(0);
            image.setPixel(1, 1, 1);
            image.setPixel(3, 2, 1);
            QCOMPARE(raster(image).toHex(' '), raster(image.convertToFormat(QImage::Format_ARGB32)).toHex(' '));
            QVERIFY(raster(image) != raster(filled(5, 4, qRgb(255, 255, 255))));
        }
    }

    // The fast decoder gives exactly what Qt's own gives, colour and grey; noise and gradients: every row filter.
    void pngFastPath()
    {
        if (!PngDecoder::available())
            QSKIP("built without libdeflate");
        QImage image(61, 40, QImage::Format_RGB32);
        QRandomGenerator random(61);
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 61; ++x)
                image.setPixel(x, y, (x + y) % 7 < 3 ? random.generate() : qRgb(x * 3, y * 5, x + y));
        for (QImage::Format format : {QImage::Format_RGB32, QImage::Format_Grayscale8}) {
            const QByteArray bytes = png(image.convertToFormat(format));
            QImage fast;
            QVERIFY(PngDecoder::decode(bytes, &fast));
            QCOMPARE(fast, QImage::fromData(bytes, "PNG"));
        }
    }

    // An image that cannot be had is skipped, with a line in the log; the job goes on.
    void imagesThatCannotPrint()
    {
        ImageServer server;
        QVERIFY(server.start());
        const QImage picture = filled(4, 1, qRgb(0, 0, 0));
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
    }
};

QLK_TEST_MAIN_CORE(TestRendering)
#include "tst_rendering.moc"

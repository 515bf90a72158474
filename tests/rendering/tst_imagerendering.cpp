// Images in jobs: rasterising, decoding, and downloads that must never stop a job.

#include "printing/ESCImageManager.h"
#include "printing/ImageLoader.h"
#include "printing/PngDecoder.h"
#include "printing/PrintJob.h"
#include "support/ImageServer.h"
#include "support/RenderSupport.h"
#include "support/TestMain.h"

#include <QJsonObject>
#include <QRandomGenerator>

using namespace RenderSupport;

namespace {

const QRgb white = qRgb(255, 255, 255);
const QRgb black = qRgb(0, 0, 0);
const char* const header = "1D 50 00 00 | 1B 33 00";

QJsonArray imageJob(const QStringList& images, const QJsonObject& settings = QJsonObject())
{
    QJsonArray operations;
    if (!settings.isEmpty())
        operations.append(QJsonObject{{"op", "settings"}, {"data", settings}});
    for (const QString& image : images)
        operations.append(QJsonObject{{"op", "image"}, {"data", image}});
    operations.append(QJsonObject{{"op", "text"}, {"data", "ok"}});
    return operations;
}

// An image in a normal job: initialise, the image's stripes, initialise again, then "ok".
QByteArray framed(const QByteArray& stripes)
{
    return hex("1B 40") + hex(header) + stripes + hex("1B 40 | 1B 74 00 6F 6B");
}

QByteArray raster(const QImage& image, bool highDensity = true)
{
    ESCImageManager manager;
    manager.setImage(image, image.width(), image.height(), highDensity, 0, false);
    return manager.render();
}

} // namespace

class TestImageRendering : public QObject
{
    Q_OBJECT

private slots:
    void goldenImages_data()
    {
        QTest::addColumn<QJsonArray>("operations");
        QTest::addColumn<bool>("compatibility");
        QTest::addColumn<QByteArray>("bytes");

        const QStringList white3{pngBase64(filled(3, 3, white))};
        const QByteArray whiteStripe = hex("1B 2A 21 03 00 | 00 00 00 00 00 00 00 00 00 | 1B 64 00");
        // Odd width: RGB565 rows are padded; each row must still be read from its own start.
        QTest::newRow("3x2 black, serpentine") << imageJob({pngBase64(filled(3, 2, black))}) << false
                                               << framed(hex("1B 2A 21 03 00 | 40 00 00 C0 00 00 C0 00 00 | 1B 64 00"));
        QTest::newRow("transparent is white")
            << imageJob({pngBase64(filled(3, 3, qRgba(0, 0, 0, 0), QImage::Format_ARGB32))}) << false
            << framed(whiteStripe);
        QTest::newRow("low density 8x8 is 4x2") << imageJob({pngBase64(filled(8, 8, white))}, {{"lowDensity", true}})
                                                << false << framed(hex("1B 2A 00 04 00 00 00 00 00 1B 64 00"));
        QTest::newRow("compatibility")
            << imageJob(white3) << true
            << hex("1D 50 CB CB | 1B 2A 21 03 00 | 00 00 00 00 00 00 00 00 00 | 1B 4A 18 | 1B 74 00 6F 6B");
        QTest::newRow("page mode") << imageJob(white3, {{"imagePrintMode", 1}}) << false
                                   << hex("1B 40 | 1B 4C | 1B 57 00 00 00 00 03 00 03 00") + hex(header) + whiteStripe +
                                          hex("0C | 1B 40 | 1B 74 00 6F 6B");
    }

    void goldenImages()
    {
        QFETCH(QJsonArray, operations);
        QFETCH(bool, compatibility);
        QFETCH(QByteArray, bytes);
        QCOMPARE(render(operations, compatibility).toHex(' '), bytes.toHex(' '));
    }

    // Golden bytes from a plain transcription of the rasterising rules (written apart from
    // this code, in Python) for a 7 x 30 colour pattern: odd width, both scan directions,
    // several stripes, and a last stripe that is only partly filled.
    void ditherAgainstReference_data()
    {
        QTest::addColumn<bool>("highDensity");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("24-dot")
            << true
            << hex("1D 50 00 00 1B 33 00 1B 2A 21 07 00 75 54 00 ED 55 54 15 40 03 50 03 FE 01 FE ED FB "
                   "F5 10 0A 08 80 1B 64 00 1B 2A 21 07 00 00 00 00 A4 00 00 B8 00 00 D4 00 00 28 00 00 "
                   "80 00 00 0C 00 00 1B 64 00");
        QTest::newRow("8-dot")
            << false
            << hex("1D 50 00 00 1B 33 00 1B 2A 00 07 00 75 ED 15 50 01 FB 0A 1B 64 00 1B 2A 00 07 00 54 "
                   "55 40 03 FE F5 08 1B 64 00 1B 2A 00 07 00 00 54 03 FE ED 10 80 1B 64 00 1B 2A 00 07 "
                   "00 00 A4 B8 D4 28 80 0C 1B 64 00");
    }

    void ditherAgainstReference()
    {
        QFETCH(bool, highDensity);
        QFETCH(QByteArray, bytes);
        QImage pattern(7, 30, QImage::Format_RGB32);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 7; ++x)
                pattern.setPixel(x, y, qRgb((x * 37 + y * 11) % 256, (x * 53 + y * 7) % 256, (x * 19 + y * 29) % 256));
        for (QImage::Format format : {QImage::Format_RGB32, QImage::Format_RGB888, QImage::Format_ARGB32})
            QCOMPARE(raster(pattern.convertToFormat(format), highDensity).toHex(' '), bytes.toHex(' '));
    }

    // Palette and 1-bit images cannot be painted on: with transparency they must still
    // print their dark pixels, exactly as the same picture in 32 bits does.
    void transparentPaletteImages()
    {
        for (QImage::Format format : {QImage::Format_Indexed8, QImage::Format_Mono}) {
            QImage image(5, 4, format);
            image.setColorTable({qRgba(0, 0, 0, 0), black});
            image.fill(0);
            image.setPixel(1, 1, 1);
            image.setPixel(3, 2, 1);
            const QByteArray bytes = raster(image);
            QCOMPARE(bytes.toHex(' '), raster(image.convertToFormat(QImage::Format_ARGB32)).toHex(' '));
            QVERIFY(bytes != raster(filled(5, 4, white)));
        }
    }

    // The fast path must give exactly what Qt's own decoder gives, or leave the image to it.
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
        for (const QByteArray& bytes : {noise(61, 40, QImage::Format_Grayscale8), noise(77, 33, QImage::Format_RGB32),
                                        noise(1500, 3, QImage::Format_ARGB32)}) {
            QImage fast;
            QVERIFY(PngDecoder::decode(bytes, &fast));
            const QImage reference = QImage::fromData(bytes, "PNG");
            QCOMPARE(fast.format(), reference.format());
            QVERIFY(fast == reference);
        }
        QImage declined;
        QVERIFY(!PngDecoder::decode(noise(20, 20, QImage::Format_Indexed8), &declined));
        QByteArray corrupt = noise(30, 30, QImage::Format_RGB32);
        corrupt[corrupt.size() / 2] = char(corrupt[corrupt.size() / 2] ^ 0x55);
        QVERIFY(!PngDecoder::decode(corrupt, &declined));
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
        QStringList images;
        for (const char* path : {"/black.png", "/huge.png", "/error.png", "/missing.png", "/silent.png"})
            images << server.url(QLatin1String(path));
        images << "httpfile:///etc/passwd"
               << "bm90IGFuIGltYWdl";
        // 32 megapixels announced in the header: refused before any pixel is decoded.
        QImage huge(8000, 4000, QImage::Format_Mono);
        huge.fill(0);
        images << pngBase64(huge);
        QTest::ignoreMessage(QtWarningMsg,
                             "ImageLoader: not an http(s) address, image skipped: \"httpfile:///etc/passwd\"");
        QTest::ignoreMessage(QtWarningMsg, "ImageLoader: image of 8000 x 4000 is too large, skipped");
        QTest::ignoreMessage(QtWarningMsg,
                             "ImageLoader: download abandoned, image skipped: larger than 16777216 bytes");
        QTest::ignoreMessage(QtWarningMsg, "ImageLoader: download abandoned, image skipped: no answer within 3000 ms");
        PrintJob printJob(imageJob(images), QStringLiteral("memory"), false);
        printJob.setImageTimeout(3000);
        // The body counts, not the status: an error page that is a picture prints; "not found" text does not.
        const QByteArray printed = raster(picture) + hex("1B 40");
        const QByteArray skipped = hex(header) + hex("1B 40");
        QCOMPARE(RenderSupport::render(printJob).toHex(' '),
                 (hex("1B 40") + printed + skipped + printed + skipped.repeated(5) + hex("1B 74 00 6F 6B")).toHex(' '));
    }
};

QLK_TEST_MAIN_CORE(TestImageRendering)
#include "tst_imagerendering.moc"

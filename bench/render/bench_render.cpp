// Times receipt rendering into memory: 576 x 1200 PNG image jobs (a receipt
// rendered as a picture, as web apps send them, and a photo-like picture with
// grain that compresses badly) and a 200-line Portuguese text job; and the
// preview (PNG) of the receipt picture job and of the text job; and a short
// invoice with an ATCUD-style QR code, printed by the printer's QR command and
// as an image. Writes the PNGs and the texts it used so that peers can render
// exactly the same input.
//
// Usage: bench_render OUTPUT_DIR [RUNS]
// Prints one JSON object: medians in milliseconds (wall clock, and processor
// time of the rendering thread) and output sizes.

#include "printing/JobPreview.h"
#include "printing/PrintJob.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

// A grey-scale picture with smooth gradients, hard shapes and grain everywhere,
// like a photo; deterministic.
QImage makePhoto()
{
    QImage image(576, 1200, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient background(0, 0, 576, 1200);
    background.setColorAt(0, QColor(250, 250, 250));
    background.setColorAt(1, QColor(40, 40, 40));
    painter.fillRect(image.rect(), background);
    QRandomGenerator random(4100);
    for (int i = 0; i < 40; ++i) {
        const int x = random.bounded(576);
        const int y = random.bounded(1200);
        const int r = 20 + random.bounded(80);
        QRadialGradient blob(x, y, r);
        blob.setColorAt(0, QColor::fromRgb(random.bounded(256), random.bounded(256), random.bounded(256)));
        blob.setColorAt(1, QColor(0, 0, 0, 0));
        painter.setPen(Qt::NoPen);
        painter.setBrush(blob);
        painter.drawEllipse(QPoint(x, y), r, r);
    }
    painter.setBrush(Qt::black);
    for (int i = 0; i < 12; ++i)
        painter.drawRect(random.bounded(500), random.bounded(1150), 20 + random.bounded(60), 10 + random.bounded(40));
    painter.end();
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grain = int(random.bounded(17)) - 8;
            const int g = qBound(0, qGray(line[x]) + grain, 255);
            line[x] = qRgb(g, g, g);
        }
    }
    return image;
}

// A whole receipt drawn as a picture: a logo with a gradient and grain on top,
// then lines of text, black on white.
QImage makeReceiptPicture(const QString& text)
{
    QImage image(576, 1200, QImage::Format_RGB32);
    image.fill(Qt::white);
    const QImage photo = makePhoto();
    QPainter painter(&image);
    painter.drawImage(QRect(96, 16, 384, 220), photo, QRect(96, 400, 384, 220));
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(20);
    painter.setFont(font);
    painter.setPen(Qt::black);
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < 38 && i < lines.size(); ++i)
        painter.drawText(8, 270 + i * 24, lines.at(i).left(46));
    return image;
}

QString makeText()
{
    static const char* const items[] = {
        "Pão de forma",    "Açúcar mascavado",  "Café moído 250g", "Maçã reineta",    "Limão",
        "Feijão-frade",    "Bacalhau à Brás",   "Pêra rocha",      "Vinho tinto Dão", "Queijo da Serra",
        "Água das Pedras", "Chouriço de porco", "Pastel de nata",  "Grão-de-bico",    "Salpicão",
    };
    QString text;
    for (int i = 0; i < 200; ++i) {
        const QString name = QString::fromUtf8(items[i % 15]);
        const QString price = QString::number(0.35 * (i % 37 + 1), 'f', 2).replace('.', ',');
        QString line = QStringLiteral("%1 x%2").arg(name).arg(i % 4 + 1);
        line += QString(qMax(1, 48 - line.size() - price.size() - 2), QLatin1Char(' '));
        line += price + QStringLiteral(" €\n");
        text += line;
    }
    return text;
}

QByteArray toPng(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

// Returns the bytes, or nothing when the file could not be written.
QByteArray writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "bench_render: cannot write %s\n", qPrintable(path));
        return QByteArray();
    }
    return bytes;
}

const char atcud[] = "A:123456789*B:999999990*C:PT*D:FT*E:N*F:20261206*G:FT 1/1*H:JFJ3-1*I1:PT*N:0.00*O:12.50*Q:abcd*"
                     "R:1234";

// The first ten lines of the text, then the QR code (4-dot modules) and a cut.
QJsonArray invoiceJob(const QString& text, bool native)
{
    QJsonArray job;
    for (const QString& line : text.split(QLatin1Char('\n')).mid(0, 10))
        job.append(QJsonObject{{"op", "text"}, {"data", line + QLatin1Char('\n')}});
    job.append(QJsonObject{{"op", "alignment"}, {"data", 1}});
    job.append(QJsonObject{
        {"op", "qrcode"},
        {"data",
         QJsonObject{{"text", QLatin1String(atcud)}, {"size", 4}, {"errorCorrection", "M"}, {"native", native}}}});
    job.append(QJsonObject{{"op", "cut"}, {"data", "full"}});
    return job;
}

QJsonArray imageJob(const QByteArray& png)
{
    return QJsonArray{
        QJsonObject{{"op", "image"}, {"data", QString::fromLatin1(png.toBase64())}},
        QJsonObject{{"op", "cut"}, {"data", "full"}},
    };
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

struct Timing
{
    double wallMs = 0;
    double cpuMs = 0; // this thread's processor time: what a shared, busy machine does not inflate as much
    qint64 bytes = 0;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

Timing measure(const QJsonArray& job, int runs)
{
    std::vector<double> wall;
    std::vector<double> cpu;
    Timing timing;
    for (int i = 0; i < runs + 2; ++i) {
        PrintJob printJob(job, QStringLiteral("bench"), false);
        QByteArray out;
        QBuffer sink(&out);
        sink.open(QIODevice::WriteOnly);
        QElapsedTimer clock;
        const double cpuStart = threadCpuMs();
        clock.start();
        printJob.render(&sink);
        const double ms = clock.nsecsElapsed() / 1e6;
        const double cpuMs = threadCpuMs() - cpuStart;
        timing.bytes = out.size();
        if (i >= 2) { // the first runs warm caches and build tables
            wall.push_back(ms);
            cpu.push_back(cpuMs);
        }
    }
    timing.wallMs = median(wall);
    timing.cpuMs = median(cpu);
    return timing;
}

// The preview as /previewJob makes it: the job rendered, drawn and encoded as PNG.
Timing measurePreview(const QJsonArray& job, int runs)
{
    std::vector<double> wall;
    std::vector<double> cpu;
    Timing timing;
    for (int i = 0; i < runs + 2; ++i) {
        QElapsedTimer clock;
        const double cpuStart = threadCpuMs();
        clock.start();
        const QByteArray png = JobPreview::png(JobPreview::draw(job, false));
        const double ms = clock.nsecsElapsed() / 1e6;
        const double cpuMs = threadCpuMs() - cpuStart;
        timing.bytes = png.size();
        if (i >= 2) { // the first runs draw the characters into the font cache
            wall.push_back(ms);
            cpu.push_back(cpuMs);
        }
    }
    timing.wallMs = median(wall);
    timing.cpuMs = median(cpu);
    return timing;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen"); // fonts for the receipt picture, no display needed
    QGuiApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type != QtDebugMsg) // the renderer's debug lines would be timed too
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench_render OUTPUT_DIR [RUNS]\n");
        return 2;
    }
    const QDir dir(args.at(1));
    const int runs = args.size() > 2 ? qMax(1, args.at(2).toInt()) : 21;
    QDir().mkpath(dir.path());

    const QString text = makeText();
    const QByteArray png = writeFile(dir.filePath(QStringLiteral("receipt.png")), toPng(makeReceiptPicture(text)));
    const QByteArray photo = writeFile(dir.filePath(QStringLiteral("photo.png")), toPng(makePhoto()));
    if (png.isEmpty() || photo.isEmpty() ||
        writeFile(dir.filePath(QStringLiteral("receipt.txt")), text.toUtf8()).isEmpty() ||
        writeFile(dir.filePath(QStringLiteral("atcud.txt")), atcud).isEmpty())
        return 1;

    QJsonArray textJob{QJsonObject{{"op", "alignment"}, {"data", 0}}};
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        textJob.append(QJsonObject{{"op", "text"}, {"data", line + QLatin1Char('\n')}});
    textJob.append(QJsonObject{{"op", "cut"}, {"data", "full"}});

    const Timing image = measure(imageJob(png), runs);
    const Timing photoTiming = measure(imageJob(photo), runs);
    const Timing textTiming = measure(textJob, runs);
    const Timing imagePreview = measurePreview(imageJob(png), runs);
    const Timing textPreview = measurePreview(textJob, runs);
    const Timing qrNative = measure(invoiceJob(text, true), runs);
    const Timing qrImage = measure(invoiceJob(text, false), runs);
    const QJsonObject result{{"runs", runs},
                             {"png_bytes", png.size()},
                             {"image_ms", image.wallMs},
                             {"image_cpu_ms", image.cpuMs},
                             {"image_bytes", image.bytes},
                             {"photo_png_bytes", photo.size()},
                             {"photo_ms", photoTiming.wallMs},
                             {"photo_cpu_ms", photoTiming.cpuMs},
                             {"photo_bytes", photoTiming.bytes},
                             {"text_ms", textTiming.wallMs},
                             {"text_cpu_ms", textTiming.cpuMs},
                             {"text_bytes", textTiming.bytes},
                             {"image_preview_ms", imagePreview.wallMs},
                             {"image_preview_cpu_ms", imagePreview.cpuMs},
                             {"image_preview_png_bytes", imagePreview.bytes},
                             {"text_preview_ms", textPreview.wallMs},
                             {"text_preview_cpu_ms", textPreview.cpuMs},
                             {"text_preview_png_bytes", textPreview.bytes},
                             {"qr_native_ms", qrNative.wallMs},
                             {"qr_native_cpu_ms", qrNative.cpuMs},
                             {"qr_native_bytes", qrNative.bytes},
                             {"qr_image_ms", qrImage.wallMs},
                             {"qr_image_cpu_ms", qrImage.cpuMs},
                             {"qr_image_bytes", qrImage.bytes}};
    std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return 0;
}

// JSON jobs parsed as request bodies are and rendered into memory; the first byte picks
// compatibility mode. Images by address (no network) and of many pixels (slow) are dropped.
#include "app/SafeJson.h"
#include "printing/ImageLoader.h"
#include "printing/PrintJob.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonObject>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QGuiApplication(*argc, *argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    QJsonArray job;
    for (const QJsonValue& operation :
         SafeJson::parse(QByteArray(reinterpret_cast<const char*>(data + 1), int(size - 1))).array()) {
        const QString source = operation.toObject().value(QStringLiteral("data")).toString();
        if (operation.toObject().value(QStringLiteral("op")).toString() == QLatin1String("image")) {
            QByteArray bytes = ImageLoader::base64Payload(source);
            QBuffer buffer(&bytes);
            const QSize pixels = QImageReader(&buffer).size();
            if (source.contains(QLatin1String("://")) ||
                (pixels.isValid() && qint64(pixels.width()) * pixels.height() > 512 * 512))
                continue;
        }
        job.append(operation);
    }
    PrintJob printJob(job, QStringLiteral("fuzz"), data[0] & 1);
    printJob.setImageTimeout(100);
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    printJob.render(&sink);
    return 0;
}

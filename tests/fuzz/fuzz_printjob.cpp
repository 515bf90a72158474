// Renders arbitrary JSON print jobs to bytes, the way /sendJob does, but into
// memory; the leak check also proves the repeated-key guard of SafeJson. Image operations whose source is an address
// are dropped (no network while fuzzing) and so are images that announce more than a small number of pixels, so that
// each input stays fast; the size checks of the real loader still run on everything else.
#include "app/SafeJson.h"
#include "printing/ImageLoader.h"
#include "printing/PrintJob.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstddef>
#include <cstdint>

namespace {

constexpr qint64 MaxFuzzPixels = 512 * 512;

bool keep(const QJsonValue& operation)
{
    const QJsonObject object = operation.toObject();
    if (object.value(QStringLiteral("op")).toString() != QLatin1String("image"))
        return true;
    const QString source = object.value(QStringLiteral("data")).toString();
    if (source.contains(QLatin1String("://")))
        return false;
    QByteArray bytes = ImageLoader::base64Payload(source);
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    return !size.isValid() || qint64(size.width()) * size.height() <= MaxFuzzPixels;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: libFuzzer leaves through exit(), after Qt's own globals are gone.
    new QGuiApplication(*argc, *argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks compatibility mode; the rest is the job document.
    const bool compatibility = data[0] & 1;
    // Parsed as request bodies are, repeated keys refused (Qt would leak them).
    const QJsonDocument document = SafeJson::parse(QByteArray(reinterpret_cast<const char*>(data + 1), int(size - 1)));
    QJsonArray job;
    for (const QJsonValue& operation : document.array()) {
        if (keep(operation))
            job.append(operation);
    }
    PrintJob printJob(job, QStringLiteral("fuzz"), compatibility);
    printJob.setImageTimeout(100);
    QByteArray bytes;
    QBuffer sink(&bytes);
    sink.open(QIODevice::WriteOnly);
    printJob.render(&sink);
    return 0;
}

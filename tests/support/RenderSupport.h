#pragma once

#include "printing/PrintJob.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QString>

// Helpers for rendering tests: bytes written as hex text, jobs as JSON text,
// images as Base64 PNG, and a job rendered into memory.
namespace RenderSupport {

// "1B 40 | 1B 61 01" -> bytes; spaces and '|' are only for reading.
inline QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace('|', ' ').replace(' ', ""));
}

inline QJsonArray job(const char* json)
{
    return QJsonDocument::fromJson(QByteArray(json)).array();
}

inline QString pngBase64(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return QString::fromLatin1(png.toBase64());
}

inline QImage filled(int w, int h, QRgb color, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(w, h, format);
    image.fill(QColor::fromRgba(color));
    return image;
}

inline QByteArray render(PrintJob& printJob)
{
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    printJob.render(&sink);
    return sink.data();
}

inline QByteArray render(const QJsonArray& operations, bool compatibilityMode = false)
{
    PrintJob printJob(operations, QStringLiteral("memory"), compatibilityMode);
    return render(printJob);
}

} // namespace RenderSupport

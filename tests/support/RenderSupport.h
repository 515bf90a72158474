#pragma once

#include "printing/PrintJob.h"

#include <QBuffer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>

// Bytes as hex text ("1B 40 | 1B 61 01": fromHex skips spaces and bars), jobs as JSON, PNG, rendering.
struct RenderSupport
{
    static QByteArray hex(const char* text) { return QByteArray::fromHex(text); }
    static QJsonArray job(const char* json) { return QJsonDocument::fromJson(json).array(); }
    static QString pngBase64(const QImage& image) { return QString::fromLatin1(png(image).toBase64()); }
    static QByteArray png(const QImage& image)
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return buffer.data();
    }
    static QImage filled(int w, int h, QRgb color, QImage::Format format = QImage::Format_RGB32)
    {
        QImage image(w, h, format);
        image.fill(QColor::fromRgba(color));
        return image;
    }
    static QByteArray render(PrintJob& printJob)
    {
        QBuffer sink;
        sink.open(QIODevice::WriteOnly);
        printJob.render(&sink);
        return sink.data();
    }
    static QByteArray render(const QJsonArray& operations, bool compatibilityMode = false)
    {
        PrintJob printJob(operations, QStringLiteral("memory"), compatibilityMode);
        return render(printJob);
    }
};

#pragma once

#include "printing/PrintJob.h"

#include <QBuffer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

// Bytes as hex text ("1B 40 | 1B 61 01": fromHex skips spaces and bars), PNG, rendering; jobs, ink and dots of the
// pictures the preview and the rasteriser make.
struct RenderSupport
{
    static QByteArray hex(const char* text) { return QByteArray::fromHex(text); }
    static QString pngBase64(const QImage& image) { return QString::fromLatin1(png(image).toBase64()); }
    static QByteArray png(const QImage& image)
    {
        QBuffer buffer;
        image.save(&buffer, "PNG"); // opens it
        return buffer.data();
    }
    static QImage filled(int w, int h, QRgb color)
    {
        QImage image(w, h, QImage::Format_RGB32);
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
    static QJsonObject op(const char* name, const QJsonValue& data) { return {{"op", name}, {"data", data}}; }
    static QJsonObject obj(const char* json) { return QJsonDocument::fromJson(json).object(); }
    static QImage rgb(const QImage& image) { return image.convertToFormat(QImage::Format_RGB32); }

    // The smallest rectangle holding every black dot of the area (null when blank).
    static QRect ink(const QImage& image, const QRect& area = QRect())
    {
        const QRect within = area.isNull() ? image.rect() : area.intersected(image.rect());
        QRect box;
        for (int y = within.top(); y <= within.bottom(); ++y)
            for (int x = within.left(); x <= within.right(); ++x)
                if (qGray(image.pixel(x, y)) < 128)
                    box |= QRect(x, y, 1, 1);
        return box;
    }

    // The dots of the ESC * stripes (each followed by a 3-byte feed), read straight from the bytes.
    static QImage stripes(const QByteArray& bytes)
    {
        QImage dots;
        int top = 0;
        for (int pos = bytes.indexOf("\x1B\x2A");
             pos >= 0 && pos + 5 <= bytes.size() && bytes.mid(pos, 2) == "\x1B\x2A";) {
            const int perColumn = quint8(bytes[pos + 2]) >= 32 ? 3 : 1; // dots per column / 8
            const int width = quint8(bytes[pos + 3]) | quint8(bytes[pos + 4]) << 8;
            if (dots.isNull())
                dots = filled(width, 2048, 0xFFFFFFFF);
            for (int row = 0; row < 8 * perColumn; ++row)
                for (int x = 0; x < width; ++x)
                    if (quint8(bytes[pos + 5 + x * perColumn + row / 8]) & (0x80 >> (row % 8)))
                        dots.setPixel(x, top + row, qRgb(0, 0, 0));
            top += 8 * perColumn;
            pos += 5 + width * perColumn + 3;
        }
        return dots.copy(0, 0, dots.width(), top);
    }

    // What zbarimg reads from a picture on white paper all around; the symbol's bytes as they are.
    static QString zbarimg(const QImage& picture)
    {
        QImage paper = filled(picture.width() + 128, picture.height() + 128, 0xFFFFFFFF);
        QPainter(&paper).drawImage(64, 64, rgb(picture));
        QTemporaryDir dir;
        QProcess zbar;
        if (paper.save(dir.filePath("code.png")))
            zbar.start("zbarimg",
                       {"--quiet", "--raw", "--nodbus", "-Sbinary", "-Supca.enable", dir.filePath("code.png")});
        zbar.waitForFinished(30000);
        const QByteArray text = zbar.readAllStandardOutput();
        return QString::fromUtf8(text.chopped(text.endsWith('\n')));
    }
};

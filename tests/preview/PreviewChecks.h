#pragma once

#include "support/RenderSupport.h"

#include <QPainter>
#include <QtTest>

// A part the test needs is missing (the reason): it skips, and fails under CI.
#define QLK_REQUIRE_PART(reason)                                                                                       \
    do {                                                                                                               \
        if (const QString why = (reason); !why.isEmpty()) {                                                            \
            if (qgetenv("CI") == "true")                                                                               \
                QFAIL(qPrintable(why));                                                                                \
            QSKIP(qPrintable(why));                                                                                    \
        }                                                                                                              \
    } while (false)

// Jobs, ink and dots of the pictures the preview and the rasteriser make.
struct PreviewChecks : RenderSupport
{
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
        QVector<QPair<int, int>> found; // position, dots per column / 8
        int width = 1, height = 0;
        for (int pos = bytes.indexOf("\x1B\x2A");
             pos >= 0 && pos + 5 <= bytes.size() && bytes.mid(pos, 2) == "\x1B\x2A";) {
            found.append({pos, quint8(bytes[pos + 2]) >= 32 ? 3 : 1});
            width = quint8(bytes[pos + 3]) | quint8(bytes[pos + 4]) << 8;
            height += 8 * found.last().second;
            pos += 5 + width * found.last().second + 3;
        }
        QImage dots(width, qMax(1, height), QImage::Format_RGB32);
        dots.fill(Qt::white);
        int top = 0;
        for (const auto& [pos, perColumn] : found) {
            for (int row = 0; row < 8 * perColumn; ++row)
                for (int x = 0; x < width; ++x)
                    if (quint8(bytes[pos + 5 + x * perColumn + row / 8]) & (0x80 >> (row % 8)))
                        dots.setPixel(x, top + row, qRgb(0, 0, 0));
            top += 8 * perColumn;
        }
        return dots;
    }

    // What zbarimg reads from a picture on white paper all around; the symbol's bytes as they are.
    static QString zbarimg(const QImage& picture)
    {
        QImage paper(picture.width() + 128, picture.height() + 128, QImage::Format_RGB32);
        paper.fill(Qt::white);
        QPainter(&paper).drawImage(64, 64, rgb(picture));
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("code.png"));
        if (!paper.save(file))
            return QStringLiteral("(cannot save)");
        QProcess zbar;
        zbar.start(QStringLiteral("zbarimg"), {"--quiet", "--raw", "--nodbus", "-Sbinary", "-Supca.enable", file});
        if (!zbar.waitForFinished(30000))
            return QStringLiteral("(zbarimg hangs)");
        const QString text = QString::fromUtf8(zbar.readAllStandardOutput());
        return text.endsWith('\n') ? text.chopped(1) : text;
    }
    static QString zbarMissing()
    {
        return QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty()
                   ? QStringLiteral("zbarimg is not installed (zbar-tools)")
                   : QString();
    }
};

#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Obtains the image of an "image" operation: downloads an http(s) address or
// decodes Base64 data (bare or as a data URL). Anything that fails gives a null
// image and a log line; it never throws and never waits without a limit.
class ImageLoader
{
public:
    static constexpr qint64 maxDownloadBytes = 16 * 1024 * 1024;
    // Decoded images above this many pixels (or wider or taller than a bit-image
    // command can say) are skipped: their buffers would take gigabytes.
    static constexpr qint64 maxPixels = 24 * 1000 * 1000;
    static constexpr int maxSide = 0xFFFF;

    // Whole-download time limit in ms: connecting, redirects and body together.
    // A download also ends, with a null image, when the calling thread is stopped
    // (its event loop told to quit), as connection threads are when the server stops.
    static QImage load(const QString& source, int timeoutMs);

    // Each of these sets problem, when given, to why the image could not be had.
    static QImage fetch(const QString& address, int timeoutMs, QString* problem = nullptr);
    // The body of an http(s) address, whatever its status; false when none came.
    static bool download(const QString& address, int timeoutMs, QByteArray* body, QString* problem = nullptr);
    static QImage fromBase64(const QString& data, QString* problem = nullptr);
    // The bytes of bare Base64 or of a data URL, decoded leniently.
    static QByteArray base64Payload(const QString& data);
    // Decodes with QImageReader after checking the size it announces; format null means detect it.
    static QImage decode(const QByteArray& bytes, const char* format, QString* problem = nullptr);
};

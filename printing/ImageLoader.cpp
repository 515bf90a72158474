#include "printing/ImageLoader.h"

#include "printing/PngDecoder.h"

#include <QBuffer>
#include <QDebug>
#include <QEventLoop>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <array>

namespace {

// Lenient Base64 as QByteArray::fromBase64 decodes it (characters outside the
// alphabet, padding included, are skipped), straight from UTF-16 and with a
// table: images arrive as hundreds of kilobytes of it.
QByteArray decodeBase64(const QChar* text, int size)
{
    static const auto table = [] {
        std::array<qint8, 128> t;
        t.fill(-1);
        const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i)
            t[uchar(alphabet[i])] = qint8(i);
        return t;
    }();
    QByteArray out(int(qint64(size) * 3 / 4 + 3), Qt::Uninitialized);
    char* o = out.data();
    uint buffer = 0;
    int bits = 0;
    for (int i = 0; i < size; ++i) {
        const ushort c = text[i].unicode();
        const int d = c < 128 ? table[c] : -1;
        if (d < 0)
            continue;
        buffer = (buffer << 6) | uint(d);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            *o++ = char(buffer >> bits);
            buffer &= (1u << bits) - 1;
        }
    }
    out.truncate(int(o - out.data()));
    return out;
}

bool fail(QString* problem, const QString& reason)
{
    if (problem)
        *problem = reason;
    return false;
}

} // namespace

QImage ImageLoader::load(const QString& source, int timeoutMs)
{
    if (source.startsWith(QLatin1String("http")))
        return fetch(source, timeoutMs);
    return fromBase64(source);
}

QImage ImageLoader::fetch(const QString& address, int timeoutMs, QString* problem)
{
    QByteArray body;
    if (!download(address, timeoutMs, &body, problem))
        return QImage();
    // Whatever body came, error pages included, is decoded; one that is no image gives a null image.
    return decode(body, nullptr, problem);
}

bool ImageLoader::download(const QString& address, int timeoutMs, QByteArray* body, QString* problem)
{
    const QUrl url(address, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        qDebug() << "ImageLoader: not an http(s) address, image skipped:" << address;
        return fail(problem, QStringLiteral("not an http(s) address"));
    }

    // Everything lives on this thread and dies with this call; the local loop below
    // drives the download even on a thread whose own loop is blocked in this job.
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    // No compression: the size limit then counts what arrives, not what it would unpack to.
    request.setRawHeader("Accept-Encoding", "identity");
    QNetworkReply* reply = manager.get(request);

    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    // Not early: the job's time for images is counted from the same clock.
    deadline.setTimerType(Qt::PreciseTimer);
    bool timedOut = false;
    bool tooLarge = false;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, &loop, [&](qint64 received, qint64 total) {
        if (!tooLarge && (received > maxDownloadBytes || total > maxDownloadBytes)) {
            tooLarge = true;
            reply->abort();
        }
    });
    deadline.start(timeoutMs);
    if (!reply->isFinished())
        loop.exec();
    deadline.stop();

    // Quitting the thread's event loop (as the server does when it is switched
    // off) ends this one too, with the download unfinished.
    if (!reply->isFinished() || QThread::currentThread()->isInterruptionRequested()) {
        reply->abort();
        qDebug("ImageLoader: download cancelled, the server is being switched off");
        return fail(problem, QStringLiteral("the download was cancelled"));
    }
    if (timedOut || tooLarge) {
        const QString reason = timedOut ? QStringLiteral("no answer in time")
                                        : QStringLiteral("larger than %1 bytes").arg(maxDownloadBytes);
        qDebug().noquote() << "ImageLoader: download abandoned, image skipped:" << reason;
        return fail(problem, reason);
    }
    *body = reply->readAll();
    // An error page is still decoded (it may be a picture); no answer at all is the error.
    if (body->isEmpty() && reply->error() != QNetworkReply::NoError)
        return fail(problem, reply->errorString());
    return true;
}

QByteArray ImageLoader::base64Payload(const QString& data)
{
    // A data URL carries its Base64 after the first comma; bare Base64 has no comma.
    const int comma = data.indexOf(QLatin1Char(','));
    const int start = comma < 0 ? 0 : comma + 1;
    return decodeBase64(data.constData() + start, data.size() - start);
}

QImage ImageLoader::fromBase64(const QString& data, QString* problem)
{
    return decode(base64Payload(data), "png", problem);
}

QImage ImageLoader::decode(const QByteArray& bytes, const char* format, QString* problem)
{
    // Qt's PNG reader lets libpng write its complaints straight to standard error:
    // a PNG that is not whole does not reach it.
    const bool png = bytes.startsWith("\x89PNG\r\n\x1A\n");
    if (qstrcmp(format, "png") == 0 && !png) {
        fail(problem, QStringLiteral("no PNG image"));
        return QImage();
    }
    if (png && !PngDecoder::whole(bytes)) {
        fail(problem, QStringLiteral("the PNG image is damaged or cut off"));
        return QImage();
    }
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    const QSize size = reader.size();
    if (!size.isValid()) {
        if (reader.canRead())
            qDebug() << "ImageLoader: image does not tell its size, skipped";
        fail(problem, reader.canRead() ? QStringLiteral("the image does not tell its size")
                                       : QStringLiteral("no image that can be read"));
        return QImage();
    }
    if (size.width() > maxSide || size.height() > maxSide || qint64(size.width()) * size.height() > maxPixels) {
        qDebug() << "ImageLoader: image of" << size.width() << "x" << size.height() << "is too large, skipped";
        fail(problem, QStringLiteral("%1 x %2 pixels is too large").arg(size.width()).arg(size.height()));
        return QImage();
    }
    QImage image;
    if ((!format || qstrcmp(format, "png") == 0) && PngDecoder::decode(bytes, &image))
        return image;
    if (!reader.read(&image)) {
        fail(problem, QStringLiteral("the image is damaged: %1").arg(reader.errorString()));
        return QImage();
    }
    return image;
}

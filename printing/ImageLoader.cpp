#include "printing/ImageLoader.h"

#include <QBuffer>
#include <QDebug>
#include <QEventLoop>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

QImage ImageLoader::load(const QString& source, int timeoutMs)
{
    if (source.startsWith(QLatin1String("http")))
        return fetch(source, timeoutMs);
    return fromBase64(source);
}

QImage ImageLoader::fetch(const QString& address, int timeoutMs)
{
    qDebug() << "will fetch" << address;
    const QUrl url(address, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        qWarning() << "ImageLoader: not an http(s) address, image skipped:" << address;
        return QImage();
    }

    // Everything lives on this thread and dies with this call; the local loop below
    // drives the download even on a thread whose own loop is blocked in this job.
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = manager.get(request);

    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
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

    qDebug() << "fetched, I guess?";
    if (timedOut || tooLarge || reply->error() != QNetworkReply::NoError) {
        qWarning().noquote() << "ImageLoader: download failed, image skipped:"
                             << (timedOut   ? QStringLiteral("no answer within %1 ms").arg(timeoutMs)
                                 : tooLarge ? QStringLiteral("larger than %1 bytes").arg(maxDownloadBytes)
                                            : reply->errorString());
        return QImage();
    }
    const QImage image = decode(reply->readAll(), nullptr);
    qDebug() << "loaded as PNG";
    return image;
}

QImage ImageLoader::fromBase64(const QString& data)
{
    // A data URL carries its Base64 after the first comma; bare Base64 has no comma.
    const int comma = data.indexOf(QLatin1Char(','));
    const QString payload = comma < 0 ? data : data.mid(comma + 1);
    return decode(QByteArray::fromBase64(payload.toUtf8()), "png");
}

QImage ImageLoader::decode(const QByteArray& bytes, const char* format)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    const QSize size = reader.size();
    if (!size.isValid()) {
        if (reader.canRead())
            qWarning() << "ImageLoader: image does not tell its size, skipped";
        return QImage();
    }
    if (size.width() > maxSide || size.height() > maxSide || qint64(size.width()) * size.height() > maxPixels) {
        qWarning() << "ImageLoader: image of" << size.width() << "x" << size.height() << "is too large, skipped";
        return QImage();
    }
    QImage image;
    if (!reader.read(&image))
        return QImage();
    return image;
}

#include "printing/JobPreview.h"

#include "printing/PrintJob.h"
#include "printing/ReceiptPreview.h"

#include <QBuffer>
#include <QIODevice>

namespace {

// Keeps the bytes of a job up to a limit and refuses the write that would pass
// it, which ends the walk of the job.
class LimitedSink : public QIODevice
{
public:
    explicit LimitedSink(qint64 limit)
        : m_limit(limit)
    {
        open(QIODevice::WriteOnly);
    }
    const QByteArray& bytes() const { return m_bytes; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 length) override
    {
        if (m_bytes.size() + length > m_limit)
            return -1;
        m_bytes.append(data, int(length));
        return length;
    }

private:
    const qint64 m_limit;
    QByteArray m_bytes;
};

} // namespace

JobPreview::JobPreview(const QJsonArray& job, bool compatibilityMode)
    : m_job(job, QStringLiteral("preview"), compatibilityMode)
{}

QImage JobPreview::draw(const QJsonArray& job, bool compatibilityMode, QStringList* notes)
{
    JobPreview preview(job, compatibilityMode);
    preview.fetchImages();
    return preview.draw(notes);
}

QImage JobPreview::draw(QStringList* notes)
{
    LimitedSink sink(maxBytes);
    const bool complete = m_job.render(&sink);

    const JobSettings& settings = m_job.settings();
    ReceiptPreview preview(settings.paperWidth());
    if (!settings.paperWidthUsable())
        preview.note(QStringLiteral("\"dotWidth\" %1 is no paper width (%2 to %3 dots); drawn %4 dots wide.")
                         .arg(settings.dotWidth)
                         .arg(JobSettings::minDotWidth)
                         .arg(JobSettings::maxDotWidth)
                         .arg(settings.paperWidth()));
    for (const QString& skipped : m_job.skippedImages())
        preview.note(skipped);
    if (!complete)
        preview.note(QStringLiteral("The job renders to more than %1 MB; the rest of it is not drawn.")
                         .arg(maxBytes / (1024 * 1024)));
    const QImage image = preview.draw(sink.bytes());
    if (notes)
        *notes += preview.notes();
    return image;
}

QByteArray JobPreview::png(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    // zlib's fastest levels: a receipt is mostly white, so the picture stays
    // small while encoding takes a quarter of the default level's time.
    image.save(&buffer, "PNG", 80);
    return bytes;
}

QString JobPreview::dataUrl(const QImage& image)
{
    return QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png(image).toBase64());
}

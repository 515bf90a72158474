#pragma once

#include "printing/PrintJob.h"

#include <QByteArray>
#include <QImage>
#include <QJsonArray>
#include <QString>
#include <QStringList>

// The preview of a print job: the job rendered to the very bytes the printer
// would get, drawn on paper as wide as the job's "dotWidth" says.
class JobPreview
{
public:
    // More bytes than this (a job of many large images) are not rendered: the
    // drawing stops at 20,000 dots long anyway.
    static constexpr qint64 maxBytes = 16 * 1024 * 1024;

    JobPreview(const QJsonArray& job, bool compatibilityMode);
    // Downloads the images given by address, as for printing: waiting on the
    // network, with no decoding or drawing.
    void fetchImages() { m_job.fetchImages(); }
    // Renders the job, decodes its images and draws. The notes of the drawing
    // (an image that could not be had among them) are added to notes when given.
    QImage draw(QStringList* notes = nullptr);

    // Both steps at once.
    static QImage draw(const QJsonArray& job, bool compatibilityMode, QStringList* notes = nullptr);

    static QByteArray png(const QImage& image);
    // "data:image/png;base64,...".
    static QString dataUrl(const QImage& image);

private:
    PrintJob m_job;
};

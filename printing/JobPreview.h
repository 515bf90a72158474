#pragma once

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

    // Images given by address are downloaded, as for printing. The notes of the
    // drawing are added to notes when given.
    static QImage draw(const QJsonArray& job, bool compatibilityMode, QStringList* notes = nullptr);

    static QByteArray png(const QImage& image);
    // "data:image/png;base64,...".
    static QString dataUrl(const QImage& image);
};

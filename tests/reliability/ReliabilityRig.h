#pragma once
// Requests, receipts and figures shared by the reliability tests.
#include "support/CupsQueue.h"     // QLK_REQUIRE_PART
#include "support/RenderSupport.h" // RenderSupport::render

#include <QFile>
#include <QJsonObject>

namespace Rig {

inline QByteArray post(const QByteArray& path, const QByteArray& type, const QByteArray& body,
                       const QByteArray& headers = {})
{
    return "POST " + path + " HTTP/1.1\r\n" + headers + "Content-Type: " + type +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

inline QByteArray sendJob(const QByteArray& auth, const QString& printer, const QJsonArray& job)
{
    return post("/sendJob", "application/json",
                QJsonDocument(QJsonObject{{"printer", printer}, {"job", job}}).toJson(QJsonDocument::Compact), auth);
}

// Long enough to span several writes to the spooler, so that interleaving would show.
inline QJsonArray receipt(const QString& tag, int lines = 10)
{
    QJsonArray job;
    for (int line = 0; line < lines; ++line)
        job.append(QJsonObject{{"op", "text"}, {"data", QStringLiteral("%1 line %2 Olá ção\n").arg(tag).arg(line)}});
    job.append(QJsonObject{{"op", "cut"}, {"data", "feed"}});
    return job;
}

inline qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    return text.contains("VmRSS:") ? text.mid(text.indexOf("VmRSS:") + 6).trimmed().split(' ').value(0).toLongLong()
                                   : -1;
}

} // namespace Rig

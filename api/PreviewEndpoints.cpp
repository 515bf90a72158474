#include "api/PreviewEndpoints.h"

#include "app/SafeJson.h"
#include "core/PrintClient.h"
#include "printing/JobCheck.h"
#include "printing/JobPreview.h"

#include <QJsonDocument>
#include <QSemaphore>

PreviewEndpoints::PreviewEndpoints(PrintClient* printClient)
    : m_printClient(printClient)
{}

std::function<void()> PreviewEndpoints::previewJob(QJsonObject& result, const QJsonArray& job,
                                                   const QJsonValue& compatibilityMode) const
{
    if (job.isEmpty()) {
        result.insert(QStringLiteral("status"), false);
        result.insert(QStringLiteral("error"), QStringLiteral("Job is empty"));
        return nullptr;
    }
    const bool connectorMode = m_printClient && m_printClient->compatibilityMode();
    const bool mode = compatibilityMode.toBool(connectorMode);
    const QString problem = JobCheck::problem(job, mode);
    if (!problem.isEmpty()) {
        result.insert(QStringLiteral("status"), false);
        result.insert(QStringLiteral("error"), problem);
        return nullptr;
    }
    return [&result, job, mode] { draw(result, job, mode); };
}

std::function<void()> PreviewEndpoints::previewJobText(QJsonObject& result, const QString& job,
                                                       const QString& compatibilityMode) const
{
    const QJsonDocument document = SafeJson::parse(job.toUtf8());
    if (!document.isArray()) {
        result.insert(QStringLiteral("status"), false);
        result.insert(QStringLiteral("error"), QStringLiteral("Job with incorrect format"));
        return nullptr;
    }
    QJsonValue mode;
    if (compatibilityMode == QLatin1String("true") || compatibilityMode == QLatin1String("1"))
        mode = true;
    else if (compatibilityMode == QLatin1String("false") || compatibilityMode == QLatin1String("0"))
        mode = false;
    return previewJob(result, document.array(), mode);
}

void PreviewEndpoints::draw(QJsonObject& result, const QJsonArray& job, bool compatibilityMode)
{
    // Downloads only wait on the network: they take no turn.
    JobPreview preview(job, compatibilityMode);
    preview.fetchImages();
    // Outside the API lock nothing else bounds how many previews decode their
    // images at once (a few hundred megabytes each at worst): two at a time.
    static QSemaphore drawing(2);
    drawing.acquire();
    const QSemaphoreReleaser turn(drawing);
    const QImage picture = preview.draw();
    if (picture.isNull()) {
        result.insert(QStringLiteral("status"), false);
        result.insert(QStringLiteral("error"), QStringLiteral("Error drawing job"));
        return;
    }
    result.insert(QStringLiteral("status"), true);
    result.insert(QStringLiteral("data"), JobPreview::dataUrl(picture));
}

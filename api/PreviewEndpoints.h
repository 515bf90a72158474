#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <functional>

class PrintClient;

// /previewJob: the picture of what a job prints, drawn from the bytes a printer
// would get. It touches no printer and no shared list, so the handler checks
// the job under its lock and draws once it has let go of it: a long drawing
// (or an image download) holds up no other request.
class PreviewEndpoints
{
public:
    explicit PreviewEndpoints(PrintClient* printClient);

    // Checks the job as /sendJob does and settles the compatibility mode: a JSON
    // boolean given with the request, else the connector's own. Returns the
    // drawing, which fills result with the picture; after an error (in result)
    // it returns nothing to run.
    std::function<void()> previewJob(QJsonObject& result, const QJsonArray& job,
                                     const QJsonValue& compatibilityMode) const;
    // Parameter mode: the job as the text of a JSON array, the mode as "true" or "false".
    std::function<void()> previewJobText(QJsonObject& result, const QString& job,
                                         const QString& compatibilityMode) const;

    static void draw(QJsonObject& result, const QJsonArray& job, bool compatibilityMode);

private:
    PrintClient* m_printClient;
};

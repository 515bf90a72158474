#include "printing/JobCheck.h"

#include "printing/CodeOperation.h"
#include "printing/JobSettings.h"

#include <QJsonObject>

QString JobCheck::problem(const QJsonArray& job, bool compatibilityMode)
{
    JobSettings settings;
    for (int i = 0; i < job.size(); ++i) {
        const QJsonObject operation = job.at(i).toObject();
        const QString op = operation.value(QLatin1String("op")).toString();
        const QJsonValue data = operation.value(QLatin1String("data"));
        if (op == QLatin1String("settings") && data.isObject())
            settings = JobSettings::fromJson(data.toObject());
        if (!CodeOperation::handles(op))
            continue;
        const CodeOperation code(op, data);
        QString reason = code.error();
        const int width = reason.isEmpty() ? code.width(compatibilityMode || !code.native()) : 0;
        if (width > settings.paperWidth())
            reason = QStringLiteral("the code is %1 dots wide, the paper %2 (\"dotWidth\")")
                         .arg(width)
                         .arg(settings.paperWidth());
        if (!reason.isEmpty())
            return QStringLiteral("Invalid job: operation %1 (%2): %3").arg(i).arg(op, reason);
    }
    return QString();
}

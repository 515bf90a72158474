#include "app/PreviewCommand.h"

#include "app/SafeJson.h"
#include "printing/JobCheck.h"
#include "printing/JobPreview.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QSaveFile>

#include <cstdio>

namespace {

// Job files hold a receipt, images included; anything larger is no job.
constexpr qint64 maxJobFileBytes = 64 * 1024 * 1024;

int fail(const QString& reason)
{
    std::fprintf(stderr, "quorva-link: %s\n", qPrintable(reason.simplified()));
    return 1;
}

} // namespace

QString PreviewCommand::defaultOutput(const QString& jobFile)
{
    const QFileInfo job(jobFile);
    return job.dir().filePath(job.completeBaseName() + QStringLiteral(".png"));
}

int PreviewCommand::main(int& argc, char** argv, const QString& jobFile, const QString& outputFile)
{
    // Scripts read the outcome and the notes, not the log: what matters of it (a
    // missing font, an image that could not be had) is in the notes.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    // Fonts need a GUI application; a display they do not, and scripts have none.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return run(jobFile, outputFile);
}

int PreviewCommand::run(const QString& jobFile, const QString& outputFile)
{
    QFile file(jobFile);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(jobFile, file.errorString()));
    if (file.size() > maxJobFileBytes)
        return fail(QStringLiteral("%1 is larger than %2 MB: no print job").arg(jobFile).arg(maxJobFileBytes >> 20));
    QJsonParseError error{};
    const QJsonDocument document = SafeJson::parse(file.readAll(), &error);
    if (document.isNull())
        return fail(
            QStringLiteral("%1 is not JSON: %2 at byte %3").arg(jobFile, error.errorString()).arg(error.offset));

    // The job array itself, or a /sendJob or /previewJob body around it.
    QJsonArray job;
    bool compatibilityMode = false;
    if (document.isArray()) {
        job = document.array();
    } else if (document.object().value(QStringLiteral("job")).isArray()) {
        job = document.object().value(QStringLiteral("job")).toArray();
        compatibilityMode = document.object().value(QStringLiteral("compatibilityMode")).toBool(false);
    } else {
        return fail(QStringLiteral("%1 holds no print job: a JSON array of operations, or an object with a "
                                   "\"job\" array")
                        .arg(jobFile));
    }
    if (job.isEmpty())
        return fail(QStringLiteral("%1: Job is empty").arg(jobFile));
    const QString problem = JobCheck::problem(job, compatibilityMode);
    if (!problem.isEmpty())
        return fail(QStringLiteral("%1: %2").arg(jobFile, problem));

    QStringList notes;
    const QImage image = JobPreview::draw(job, compatibilityMode, &notes);
    const QString output = outputFile.isEmpty() ? defaultOutput(jobFile) : outputFile;
    QSaveFile picture(output);
    const QByteArray png = JobPreview::png(image);
    if (png.isEmpty() || !picture.open(QIODevice::WriteOnly) || picture.write(png) != png.size() || !picture.commit())
        return fail(QStringLiteral("cannot write %1: %2").arg(output, picture.errorString()));

    std::printf("%s: %d x %d dots\n", qPrintable(output), image.width(), image.height());
    for (const QString& note : qAsConst(notes))
        std::fprintf(stderr, "note: %s\n", qPrintable(note));
    return 0;
}

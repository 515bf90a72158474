#include "app/LanguageChoice.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

QString LanguageChoice::languageOf(const QString& localeName)
{
    return localeName.split(QLatin1Char('_')).first();
}

QString LanguageChoice::systemLanguage()
{
    return languageOf(QLocale::system().name());
}

QStringList LanguageChoice::translationFolders(const QString& appDir)
{
    return {appDir, QDir::cleanPath(appDir + QStringLiteral("/../share/quorva-link/translations"))};
}

QString LanguageChoice::translationFile(const QString& appDir, const QString& localeName)
{
    const QString language = languageOf(localeName);
    const bool translated =
        language == QLatin1String("pt") || language == QLatin1String("es") || language == QLatin1String("en");
    const QString name = QStringLiteral("/printclient_") + (translated ? language : QStringLiteral("en"));
    const QStringList folders = translationFolders(appDir);
    for (const QString& folder : folders) {
        if (QFileInfo::exists(folder + name + QStringLiteral(".qm")))
            return folder + name;
    }
    return folders.first() + name;
}

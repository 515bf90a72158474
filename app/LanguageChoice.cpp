#include "app/LanguageChoice.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStringList>

QString LanguageChoice::languageOf(const QString& localeName)
{
    return localeName.split(QLatin1Char('_')).first();
}

QString LanguageChoice::systemLanguage()
{
    return languageOf(QLocale::system().name());
}

QString LanguageChoice::translationFile(const QString& appDir, const QString& localeName)
{
    const QString language = languageOf(localeName);
    const bool translated =
        language == QLatin1String("pt") || language == QLatin1String("es") || language == QLatin1String("en");
    const QString name = QStringLiteral("/printclient_") + (translated ? language : QStringLiteral("en"));
    const QString shared = QDir::cleanPath(appDir + QStringLiteral("/../share/quorva-link/translations"));
    if (!QFileInfo::exists(appDir + name + QStringLiteral(".qm")) &&
        QFileInfo::exists(shared + name + QStringLiteral(".qm")))
        return shared + name;
    return appDir + name;
}

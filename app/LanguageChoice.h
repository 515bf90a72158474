#pragma once

#include <QString>
#include <QStringList>

// Picks the translation from the system locale: pt, es and en have their own,
// every other language reads English.
class LanguageChoice
{
public:
    // "pt_PT" -> "pt"; "C" -> "C".
    static QString languageOf(const QString& localeName);
    static QString systemLanguage();

    // Where translations are looked for, in order: beside the program (a build
    // tree, a Windows installation), then the shared data folder of an
    // installation in a prefix (/usr/bin/quorva-link reads /usr/share/quorva-link/translations).
    static QStringList translationFolders(const QString& appDir);

    // Base name of the translation file (the translator adds ".qm") in the
    // first folder that has it; beside the program when none has.
    static QString translationFile(const QString& appDir, const QString& localeName);
};

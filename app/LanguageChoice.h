#pragma once

#include <QString>

// Picks the translation from the system locale: pt, es and en have their own,
// every other language reads English.
class LanguageChoice
{
public:
    // "pt_PT" -> "pt"; "C" -> "C".
    static QString languageOf(const QString& localeName);
    static QString systemLanguage();

    // Base name of the translation file (the translator adds ".qm"), looked for
    // beside the program (a build tree, a Windows installation), then in the
    // shared data folder of an installation in a prefix (/usr/bin/quorva-link
    // reads /usr/share/quorva-link/translations); beside the program when none has it.
    static QString translationFile(const QString& appDir, const QString& localeName);
};

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

    // Base name of the translation file (the translator adds ".qm").
    static QString translationFile(const QString& appDir, const QString& localeName);
};

#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// Turns receipt text into printer bytes: each character goes out in the lowest
// ESC t code page that has it (page 0 first), switching page for that one
// character only; optionally the text is first folded to plain ASCII.
// Pure functions over read-only tables, safe from any thread.
class CodePages : public QObject
{
    Q_OBJECT

public:
    CodePages() = delete;

    static QByteArray encodeText(const QString& text, bool alternativeCharset);
    // Every (page, byte) pair that prints the unit, pages ascending; 00 00 when no page has it.
    static QByteArray lookupChar(QChar unit, bool alternativeCharset);
    static QString foldToAscii(const QString& text);
};

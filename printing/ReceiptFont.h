#pragma once

#include <QString>
#include <QVector>

// The printer's two character fonts as the preview draws them: a monospace
// font (DejaVu Sans Mono) fitted into the printer's cells, font A 12 x 24 dots
// and font B 9 x 17, each character reduced to dots once and kept. Safe from
// any thread once a QGuiApplication exists; without one no text is drawn.
class ReceiptFont
{
public:
    enum Face { FontA, FontB };

    // Ink on one row of a cell, from start up to (not including) end.
    struct Run
    {
        quint8 row;
        quint8 start;
        quint8 end;
    };
    using Glyph = QVector<Run>;

    static int cellWidth(Face face) { return face == FontA ? 12 : 9; }
    static int cellHeight(Face face) { return face == FontA ? 24 : 17; }

    // The dots of one character; the reference stays valid for the life of the program.
    static const Glyph& glyph(char16_t character, Face face);

    // The family the cells are drawn with; empty when there is no QGuiApplication.
    static QString family();
    static QString preferredFamily() { return QStringLiteral("DejaVu Sans Mono"); }
};

#pragma once

#include "printing/ReceiptFont.h"
#include "printing/ReceiptPaper.h"

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QStringList>
#include <QVector>

// Draws what a receipt printer makes of an ESC/POS byte stream: a white paper
// strip, one pixel per dot, with text in the printer's character cells, bit
// images dot for dot, a cut as a dashed line and a drawer pulse as a small
// marked line. Like a printer it holds a line until a line end or a print
// command, wraps text that runs past the paper and drops image dots beyond it.
// A command it does not know or that is cut off, and a receipt longer than the
// limit, end the drawing with a note at the bottom. One instance per stream.
class ReceiptPreview
{
public:
    static constexpr int defaultMaxHeight = 20000;

    explicit ReceiptPreview(int dotWidth = 576, int maxHeight = defaultMaxHeight);

    QImage draw(const QByteArray& bytes);
    // What the note at the bottom of the strip says, one entry per finding.
    QStringList notes() const { return m_notes; }
    // Adds to the note (before draw).
    void note(const QString& text);

private:
    class Input;
    using Handler = void (ReceiptPreview::*)(Input&);
    struct Command
    {
        char prefix; // 0 for a control byte of its own, else ESC or GS
        char code;
        Handler run;
    };
    // Text or a bit image waiting in the line buffer, placed from the line's start.
    struct Item
    {
        int x = 0;
        int width = 0;
        int height = 0;
        const ReceiptFont::Glyph* glyph = nullptr; // text
        int scaleWidth = 1;
        int scaleHeight = 1;
        bool emphasized = false;
        int underline = 0;
        const uchar* bits = nullptr; // bit image: columns of bytesPerColumn bytes
        int columns = 0;
        int bytesPerColumn = 0;
    };

    // Extend here: one row per command, its handler reads the parameters from Input.
    static const Command* find(char prefix, char code);

    void initialise(Input& in);
    void selectPrintMode(Input& in);
    void selectUnderline(Input& in);
    void selectEmphasis(Input& in);
    void selectFont(Input& in);
    void selectCharacterSize(Input& in);
    void selectJustification(Input& in);
    void selectCodePage(Input& in);
    void selectDefaultLineSpacing(Input& in);
    void selectLineSpacing(Input& in);
    void selectMotionUnits(Input& in);
    void lineFeed(Input& in);
    void carriageReturn(Input& in);
    void horizontalTab(Input& in);
    void ignoreByte(Input& in);
    void printAndFeedLines(Input& in);
    void printAndFeedDots(Input& in);
    void bitImage(Input& in);
    void cut(Input& in);
    void pulse(Input& in);
    void selectPageMode(Input& in);
    void selectStandardMode(Input& in);
    void setPrintArea(Input& in);
    void formFeed(Input& in);

    void printCharacter(uchar byte);
    void addItem(Item item);
    int lineWidth() const;
    int lineTop() const;
    bool printLine(int feed);
    void drawItem(const Item& item, int x, int y);
    void leavePageMode(bool print);
    void mark(const QString& label);
    void drawText(const QString& text, int x, int y, ReceiptFont::Face face);
    void drawNotes();
    bool tooLong();
    void stop(const QString& note);

    ReceiptPaper m_paper;
    const int m_maxHeight;
    int m_y = 0; // top of the next line in standard mode
    int m_commandStart = 0;
    bool m_stopped = false;
    bool m_drewText = false;
    QStringList m_notes;

    ReceiptFont::Face m_face = ReceiptFont::FontA;
    bool m_emphasized = false;
    int m_underline = 0; // dots
    int m_scaleWidth = 1;
    int m_scaleHeight = 1;
    int m_alignment = 0;
    int m_codePage = 0;
    int m_lineSpacing = 30;

    QVector<Item> m_line;
    int m_lineX = 0;
    int m_lineAlignment = 0;

    bool m_pageMode = false;
    int m_pageTop = 0;
    QRect m_pageArea; // relative to the page's top; null until set
    int m_pageY = 0;
    int m_pageBottom = 0;
};

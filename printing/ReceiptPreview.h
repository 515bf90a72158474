#pragma once

#include "printing/ReceiptCodes.h"
#include "printing/ReceiptFont.h"
#include "printing/ReceiptLayout.h"

#include <QByteArray>
#include <QImage>
#include <QStringList>

// Draws what a receipt printer makes of an ESC/POS byte stream: a white paper
// strip, one pixel per dot, with text in the printer's character cells, bit
// images dot for dot, QR codes and barcodes as the printer draws them, a cut
// as a dashed line and a drawer pulse as a small marked line. Like a printer it holds a line until a line end or a
// print command, wraps text that runs past the paper and drops image dots beyond it. A command it does not know or that
// is cut off, and a receipt longer than the limit, end the drawing with a note at the bottom. One instance per stream.
class ReceiptPreview
{
public:
    static constexpr int defaultMaxHeight = 20000;

    explicit ReceiptPreview(int dotWidth = 576, int maxHeight = defaultMaxHeight);

    QImage draw(const QByteArray& bytes);
    // What the note at the bottom of the strip says, one entry per finding.
    QStringList notes() const { return m_layout.notes(); }
    // Adds to the note (before draw).
    void note(const QString& text) { m_layout.note(text); }

private:
    class Input;
    using Handler = void (ReceiptPreview::*)(Input&);
    struct Command
    {
        char prefix; // 0 for a control byte of its own, else ESC or GS
        char code;
        Handler run;
    };

    // Extend here: one row per command; its handler reads the parameters from Input.
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
    void ignore(Input& in);
    void nul(Input& in);
    void lineFeed(Input& in);
    void horizontalTab(Input& in);
    void printAndFeedLines(Input& in);
    void printAndFeedDots(Input& in);
    void bitImage(Input& in);
    void cut(Input& in);
    void pulse(Input& in);
    void selectPageMode(Input& in);
    void selectStandardMode(Input& in);
    void setPrintArea(Input& in);
    void formFeed(Input& in);
    void twoDimensionalCode(Input& in);
    void barcodeSetting(Input& in);
    void barcode(Input& in);

    void printCharacter(uchar byte);
    void printCode(const QImage& picture, const QString& problem);
    void stop(const QString& note);

    ReceiptLayout m_layout;
    ReceiptCodes m_codes;
    int m_commandStart = 0;
    bool m_stopped = false;
    bool m_drewText = false;
    int m_lostCharacters = 0;
    int m_firstLostCharacter = 0;

    ReceiptFont::Face m_face = ReceiptFont::FontA;
    bool m_emphasized = false;
    int m_underline = 0; // dots
    int m_scaleWidth = 1;
    int m_scaleHeight = 1;
    int m_justification = 0;
    int m_codePage = 0;
    int m_lineSpacing = 30;
};

#pragma once

#include "printing/ReceiptFont.h"
#include "printing/ReceiptPaper.h"

#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVector>

// Where a receipt's contents land on the paper, as a printer places them: a
// line buffer printed at a line end with the justification of its start and
// moved on by the feed or by the line's height when that is more; page mode
// with its print area; marks for what prints nothing; and a length limit. What
// it finds on the way goes into the notes drawn under the receipt.
class ReceiptLayout
{
public:
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
        const uchar* bits = nullptr; // bit image: columns of bytesPerColumn bytes, top dot in bit 7
        int columns = 0;
        int bytesPerColumn = 0;
        QImage picture; // a QR code or barcode: 1 bit per dot, colour 1 black
    };

    // How many times the area of the longest strip may be drawn (blackened or
    // added as paper) before the drawing stops.
    static constexpr int workBudget = 4;

    ReceiptLayout(int width, int maxHeight);

    void note(const QString& text);
    QStringList notes() const { return m_notes; }
    // Past the length limit or the work budget: nothing more is placed.
    bool full() const { return m_full; }

    int lineWidth() const;
    int lineX() const { return m_lineX; }
    bool lineEmpty() const { return m_line.isEmpty(); }
    // Adds to the line buffer; the justification counts when a line starts.
    void add(Item item, int justification);
    // Moves on along the line (a tab) without adding anything.
    void skipTo(int x, int justification);
    // False once past the length limit.
    bool printLine(int feed);
    void discardLine();

    bool pageMode() const { return m_pageMode; }
    void enterPageMode();
    // Relative to the top of the page; the width is cut to the paper.
    void setPrintArea(const QRect& area);
    // A printed page ends at the bottom of its area (or of what is on it); a
    // page left unprinted is taken off the paper again.
    void leavePageMode(bool print);

    // Feeds, then a dashed line across the paper.
    void cut(int feed);
    // A marked line with a label: something that happened here but prints nothing.
    void mark(const QString& label);

    // The strip, with the notes at its bottom.
    QImage finish();

private:
    int lineTop() const;
    bool tooLong();
    void drawItem(const Item& item, int x, int y);
    void drawText(const QString& text, int x, int y, ReceiptFont::Face face);

    ReceiptPaper m_paper;
    const int m_maxHeight;
    int m_y = 0; // top of the next line in standard mode
    bool m_full = false;
    QStringList m_notes;

    QVector<Item> m_line;
    int m_lineX = 0;
    int m_lineJustification = 0;

    bool m_pageMode = false;
    int m_pageTop = 0;
    QRect m_pageArea; // relative to the page's top; null until set
    int m_pageY = 0;
    int m_pageBottom = 0;
};

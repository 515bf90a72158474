#include "printing/ReceiptLayout.h"

ReceiptLayout::ReceiptLayout(int width, int maxHeight)
    : m_paper(width)
    , m_maxHeight(maxHeight)
{}

void ReceiptLayout::note(const QString& text)
{
    if (!m_notes.contains(text) && m_notes.size() < 8)
        m_notes.append(text);
}

bool ReceiptLayout::tooLong()
{
    m_full = true;
    m_paper.extend(m_maxHeight);
    note(QStringLiteral("The receipt is longer than %1 dots (%2 m); the preview stops there.")
             .arg(m_maxHeight)
             .arg(m_maxHeight / 8000.0, 0, 'f', 1));
    return false;
}

// Line buffer

int ReceiptLayout::lineWidth() const
{
    return m_pageMode && !m_pageArea.isNull() ? m_pageArea.width() : m_paper.width();
}

int ReceiptLayout::lineTop() const
{
    return m_pageMode ? m_pageTop + (m_pageArea.isNull() ? 0 : m_pageArea.top()) + m_pageY : m_y;
}

void ReceiptLayout::add(Item item, int justification)
{
    skipTo(m_lineX, justification);
    item.x = m_lineX;
    m_lineX += item.width;
    m_line.append(item);
}

void ReceiptLayout::skipTo(int x, int justification)
{
    if (m_line.isEmpty() && m_lineX == 0)
        m_lineJustification = justification;
    m_lineX = x;
}

void ReceiptLayout::discardLine()
{
    m_line.clear();
    m_lineX = 0;
}

bool ReceiptLayout::printLine(int feed)
{
    if (m_full)
        return false;
    int height = 0;
    for (const Item& item : qAsConst(m_line))
        height = qMax(height, item.height);
    const int advance = qMax(height, feed);
    const int top = lineTop();
    if (top + advance > m_maxHeight)
        return tooLong();
    int left = 0;
    if (m_pageMode) {
        left = m_pageArea.isNull() ? 0 : m_pageArea.left();
    } else if (m_lineJustification == 1) {
        left = qMax(0, (lineWidth() - m_lineX) / 2);
    } else if (m_lineJustification == 2) {
        left = qMax(0, lineWidth() - m_lineX);
    }
    m_paper.takeClipped();
    for (const Item& item : qAsConst(m_line))
        drawItem(item, left + item.x, top + height - item.height); // a line's contents stand on its bottom
    // Page mode lets the same area be drawn again and again; a receipt never needs
    // more than a few times the paper's area.
    if (m_paper.work() > workBudget * m_paper.width() * qint64(m_maxHeight)) {
        m_full = true;
        note(QStringLiteral("The receipt draws over the same paper again and again (more than %1 times its "
                            "area); the preview stops there.")
                 .arg(workBudget));
        return false;
    }
    // Only ink counts: blank padding under an image may run past the area unseen.
    if (m_pageMode && m_paper.takeClipped())
        note(QStringLiteral("Page mode data runs past its print area of %1 x %2 dots; the rest is not printed.")
                 .arg(m_pageArea.width())
                 .arg(m_pageArea.height()));
    discardLine();
    if (m_pageMode) {
        m_pageY += advance;
        m_pageBottom = qMax(m_pageBottom, top + advance - m_pageTop);
    } else {
        m_y += advance;
        m_paper.extend(m_y);
    }
    return true;
}

void ReceiptLayout::drawItem(const Item& item, int x, int y)
{
    if (item.glyph) {
        const int bold = item.emphasized ? 1 : 0; // struck twice, one dot apart
        for (const ReceiptFont::Run& run : *item.glyph)
            m_paper.fill(x + run.start * item.scaleWidth, y + run.row * item.scaleHeight,
                         (run.end - run.start) * item.scaleWidth + bold, item.scaleHeight);
        if (item.underline)
            m_paper.fill(x, y + item.height - item.underline, item.width, item.underline);
        return;
    }
    if (!item.picture.isNull()) {
        for (int row = 0; row < item.picture.height(); ++row) {
            const uchar* bits = item.picture.constScanLine(row);
            for (int column = 0; column < item.picture.width();) {
                if (!(bits[column >> 3] & (0x80 >> (column & 7)))) {
                    ++column;
                    continue;
                }
                const int start = column;
                while (column < item.picture.width() && (bits[column >> 3] & (0x80 >> (column & 7))))
                    ++column;
                m_paper.fill(x + start, y + row, column - start, 1);
            }
        }
        return;
    }
    if (!item.bits)
        return;
    const int dotWidth = item.width / item.columns;
    const int dotHeight = item.height / (8 * item.bytesPerColumn);
    for (int column = 0; column < item.columns; ++column) {
        const uchar* bytes = item.bits + column * item.bytesPerColumn;
        for (int i = 0; i < item.bytesPerColumn; ++i) {
            for (int bit = 0; bytes[i] && bit < 8; ++bit) {
                if (bytes[i] & (0x80 >> bit))
                    m_paper.fill(x + column * dotWidth, y + (i * 8 + bit) * dotHeight, dotWidth, dotHeight);
            }
        }
    }
}

// Page mode

void ReceiptLayout::enterPageMode()
{
    m_pageMode = true;
    m_pageTop = m_y;
    m_pageArea = QRect();
    m_pageY = 0;
    m_pageBottom = 0;
}

void ReceiptLayout::setPrintArea(const QRect& area)
{
    const QRect usable(area.left(), area.top(), qMin(area.width(), m_paper.width() - area.left()), area.height());
    if (!m_pageMode || usable.width() <= 0 || usable.height() <= 0)
        return;
    m_pageArea = usable;
    m_pageY = 0;
    m_paper.setClip(usable.translated(0, m_pageTop));
}

void ReceiptLayout::leavePageMode(bool print)
{
    if (print && !m_line.isEmpty())
        printLine(0);
    discardLine();
    m_paper.setClip(QRect());
    m_pageMode = false;
    if (!print) {
        m_paper.cutBack(m_pageTop);
        m_y = m_pageTop;
        return;
    }
    const int bottom = m_pageArea.isNull() ? m_pageBottom : m_pageArea.top() + m_pageArea.height();
    if (m_pageTop + bottom > m_maxHeight) {
        tooLong();
        return;
    }
    m_y = m_pageTop + bottom;
    m_paper.extend(m_y);
}

// Marks

void ReceiptLayout::cut(int feed)
{
    if ((feed > 0 && !printLine(feed)) || m_full)
        return;
    if (m_y + 8 > m_maxHeight) {
        tooLong();
        return;
    }
    // The dashed line, then a little paper so that it stands apart from what follows.
    for (int x = 0; x < m_paper.width(); x += 12)
        m_paper.fill(x, m_y + 3, 8, 2);
    m_y += 8;
    m_paper.extend(m_y);
}

void ReceiptLayout::mark(const QString& label)
{
    const ReceiptFont::Face face = ReceiptFont::FontB;
    const int height = ReceiptFont::cellHeight(face);
    if (m_full || m_y + height + 6 > m_maxHeight)
        return;
    const int textWidth = label.size() * ReceiptFont::cellWidth(face);
    const int textLeft = qMax(0, (m_paper.width() - textWidth) / 2);
    const int middle = m_y + 3 + height / 2;
    for (int x = 0; x < m_paper.width(); x += 3) {
        if (x < textLeft - 6 || x >= textLeft + textWidth + 6)
            m_paper.fill(x, middle, 1, 1);
    }
    drawText(label, textLeft, m_y + 3, face);
    m_y += height + 6;
    m_paper.extend(m_y);
}

// Notes

void ReceiptLayout::drawText(const QString& text, int x, int y, ReceiptFont::Face face)
{
    Item item;
    item.width = ReceiptFont::cellWidth(face);
    for (int i = 0; i < text.size(); ++i) {
        item.glyph = &ReceiptFont::glyph(text.at(i).unicode(), face);
        drawItem(item, x + i * item.width, y);
    }
}

QImage ReceiptLayout::finish()
{
    if (m_notes.isEmpty())
        return m_paper.image();
    const ReceiptFont::Face face = ReceiptFont::FontB;
    const int perLine = qMax(1, m_paper.width() / ReceiptFont::cellWidth(face));
    m_paper.setClip(QRect());
    int y = m_paper.height() + 8;
    for (int x = 0; x < m_paper.width(); x += 2)
        m_paper.fill(x, y, 1, 1);
    y += 6;
    for (const QString& text : qAsConst(m_notes)) {
        // Wrapped at spaces where it can: notes are plain sentences.
        QString rest = text;
        while (!rest.isEmpty()) {
            int cut = rest.size() <= perLine ? rest.size() : rest.lastIndexOf(QLatin1Char(' '), perLine);
            if (cut <= 0)
                cut = qMin(perLine, rest.size());
            drawText(rest.left(cut), 0, y, face);
            rest = rest.mid(cut).trimmed();
            y += ReceiptFont::cellHeight(face) + 3;
        }
        y += 4;
    }
    m_paper.extend(y);
    return m_paper.image();
}

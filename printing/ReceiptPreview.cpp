#include "printing/ReceiptPreview.h"

#include "printing/generated/CodePageTables.h"

#include <iterator>

namespace {

constexpr char ESC = '\x1B';
constexpr char GS = '\x1D';
constexpr int defaultLineSpacing = 30; // 3.75 mm at 203 dpi, as printers start

// "1B 2A 05": the bytes of a command for a note.
QString hex(const char* bytes, int count)
{
    return QString::fromLatin1(QByteArray(bytes, count).toHex(' ').toUpper());
}

} // namespace

// The stream being drawn: single bytes, or a run of a command's parameters.
// Reading past the end marks the command as cut off.
class ReceiptPreview::Input
{
public:
    explicit Input(const QByteArray& bytes)
        : m_data(bytes.constData())
        , m_size(bytes.size())
    {}

    bool atEnd() const { return m_position >= m_size; }
    int position() const { return m_position; }
    const char* at(int position) const { return m_data + position; }
    bool truncated() const { return m_truncated; }

    uchar byte()
    {
        if (m_position >= m_size) {
            m_truncated = true;
            return 0;
        }
        return uchar(m_data[m_position++]);
    }
    const uchar* take(qint64 count)
    {
        if (count > m_size - m_position) {
            m_truncated = true;
            m_position = m_size;
            return nullptr;
        }
        const auto* bytes = reinterpret_cast<const uchar*>(m_data + m_position);
        m_position += int(count);
        return bytes;
    }

private:
    const char* m_data;
    int m_size;
    int m_position = 0;
    bool m_truncated = false;
};

const ReceiptPreview::Command* ReceiptPreview::find(char prefix, char code)
{
    static const Command commands[] = {
        {0, '\x00', &ReceiptPreview::ignoreByte},              // NUL: a character no code page has
        {0, '\x09', &ReceiptPreview::horizontalTab},           // HT
        {0, '\x0A', &ReceiptPreview::lineFeed},                // LF: print and feed one line
        {0, '\x0C', &ReceiptPreview::formFeed},                // FF: print the page (page mode)
        {0, '\x0D', &ReceiptPreview::carriageReturn},          // CR: ignored without automatic line feed
        {ESC, '@', &ReceiptPreview::initialise},               // ESC @
        {ESC, '!', &ReceiptPreview::selectPrintMode},          // ESC ! n
        {ESC, '-', &ReceiptPreview::selectUnderline},          // ESC - n
        {ESC, 'E', &ReceiptPreview::selectEmphasis},           // ESC E n
        {ESC, 'G', &ReceiptPreview::selectEmphasis},           // ESC G n: double strike, drawn as emphasis
        {ESC, 'M', &ReceiptPreview::selectFont},               // ESC M n
        {ESC, 'a', &ReceiptPreview::selectJustification},      // ESC a n
        {ESC, 't', &ReceiptPreview::selectCodePage},           // ESC t n
        {ESC, '2', &ReceiptPreview::selectDefaultLineSpacing}, // ESC 2
        {ESC, '3', &ReceiptPreview::selectLineSpacing},        // ESC 3 n
        {ESC, 'd', &ReceiptPreview::printAndFeedLines},        // ESC d n
        {ESC, 'J', &ReceiptPreview::printAndFeedDots},         // ESC J n
        {ESC, '*', &ReceiptPreview::bitImage},                 // ESC * m nL nH d...
        {ESC, 'p', &ReceiptPreview::pulse},                    // ESC p m t1 t2
        {ESC, 'L', &ReceiptPreview::selectPageMode},           // ESC L
        {ESC, 'S', &ReceiptPreview::selectStandardMode},       // ESC S
        {ESC, 'W', &ReceiptPreview::setPrintArea},             // ESC W x y dx dy
        {GS, '!', &ReceiptPreview::selectCharacterSize},       // GS ! n
        {GS, 'P', &ReceiptPreview::selectMotionUnits},         // GS P x y
        {GS, 'V', &ReceiptPreview::cut},                       // GS V m [n]
    };
    for (const Command& command : commands) {
        if (command.prefix == prefix && command.code == code)
            return &command;
    }
    return nullptr;
}

ReceiptPreview::ReceiptPreview(int dotWidth, int maxHeight)
    : m_paper(dotWidth)
    , m_maxHeight(maxHeight)
{}

QImage ReceiptPreview::draw(const QByteArray& bytes)
{
    Input in(bytes);
    while (!m_stopped && !in.atEnd()) {
        m_commandStart = in.position();
        const char first = char(in.byte());
        if (uchar(first) >= 0x20) {
            printCharacter(uchar(first));
            continue;
        }
        const bool prefixed = first == ESC || first == GS;
        const char code = prefixed ? char(in.byte()) : first;
        const Command* command = in.truncated() ? nullptr : find(prefixed ? first : 0, code);
        if (command)
            (this->*command->run)(in);
        const int length = in.position() - m_commandStart;
        if (in.truncated())
            stop(QStringLiteral("The command %1 at byte %2 is cut off; the preview stops there.")
                     .arg(hex(in.at(m_commandStart), qMin(length, 3)))
                     .arg(m_commandStart));
        else if (!command)
            stop(QStringLiteral("Unknown command %1 at byte %2; the preview stops there.")
                     .arg(hex(in.at(m_commandStart), length))
                     .arg(m_commandStart));
    }
    if (!m_stopped) {
        if (m_pageMode) {
            leavePageMode(false);
            note(QStringLiteral("The page mode data never got its FF: a printer does not print it."));
        }
        if (!m_line.isEmpty())
            note(QStringLiteral("The last line has no line end: a printer keeps it until more data comes."));
    }
    if (m_drewText) {
        const QString family = ReceiptFont::family();
        if (family.isEmpty())
            note(QStringLiteral("Text is not drawn: without a GUI application there are no fonts."));
        else if (family != ReceiptFont::preferredFamily())
            note(QStringLiteral("%1 is not installed; text is drawn in %2.")
                     .arg(ReceiptFont::preferredFamily(), family));
    }
    drawNotes();
    return m_paper.image();
}

bool ReceiptPreview::tooLong()
{
    m_paper.extend(m_maxHeight);
    stop(QStringLiteral("The receipt is longer than %1 dots (%2 m); the preview stops there.")
             .arg(m_maxHeight)
             .arg(m_maxHeight / 8000.0, 0, 'f', 1));
    return false;
}

void ReceiptPreview::stop(const QString& text)
{
    m_stopped = true;
    note(text);
}

void ReceiptPreview::note(const QString& text)
{
    if (!m_notes.contains(text) && m_notes.size() < 8)
        m_notes.append(text);
}

// Text

void ReceiptPreview::printCharacter(uchar byte)
{
    const char16_t* page = m_codePage < CodePageTables::pageCount ? CodePageTables::pages[m_codePage] : nullptr;
    // A page we have no table for shares ASCII with the others; its upper half is unknown.
    const char16_t character = page ? page[byte - 1] : (byte < 0x80 ? char16_t(byte) : char16_t(0xFFFD));
    m_drewText = true;
    Item item;
    item.glyph = &ReceiptFont::glyph(character, m_face);
    item.scaleWidth = m_scaleWidth;
    item.scaleHeight = m_scaleHeight;
    item.width = ReceiptFont::cellWidth(m_face) * m_scaleWidth;
    item.height = ReceiptFont::cellHeight(m_face) * m_scaleHeight;
    item.emphasized = m_emphasized;
    item.underline = m_underline;
    // A character that does not fit prints the line and starts the next one.
    if (m_lineX > 0 && m_lineX + item.width > lineWidth() && !printLine(m_lineSpacing))
        return;
    addItem(item);
}

void ReceiptPreview::addItem(Item item)
{
    if (m_line.isEmpty())
        m_lineAlignment = m_alignment; // justification counts at the start of a line
    item.x = m_lineX;
    m_lineX += item.width;
    m_line.append(item);
}

void ReceiptPreview::initialise(Input&)
{
    if (m_pageMode) {
        leavePageMode(false);
        note(QStringLiteral("ESC @ at byte %1 threw away page mode data that was never printed.").arg(m_commandStart));
    } else if (!m_line.isEmpty()) {
        note(QStringLiteral("ESC @ at byte %1 threw away a line that was never printed.").arg(m_commandStart));
    }
    m_line.clear();
    m_lineX = 0;
    m_face = ReceiptFont::FontA;
    m_emphasized = false;
    m_underline = 0;
    m_scaleWidth = m_scaleHeight = 1;
    m_alignment = 0;
    m_codePage = 0;
    m_lineSpacing = defaultLineSpacing;
}

void ReceiptPreview::selectPrintMode(Input& in)
{
    const uchar n = in.byte();
    m_face = (n & 0x01) ? ReceiptFont::FontB : ReceiptFont::FontA;
    m_emphasized = n & 0x08;
    m_scaleHeight = (n & 0x10) ? 2 : 1;
    m_scaleWidth = (n & 0x20) ? 2 : 1;
    m_underline = (n & 0x80) ? 1 : 0;
}

void ReceiptPreview::selectUnderline(Input& in)
{
    const uchar n = in.byte();
    if (n <= 2 || (n >= '0' && n <= '2'))
        m_underline = n & 0x03;
}

void ReceiptPreview::selectEmphasis(Input& in)
{
    m_emphasized = in.byte() & 0x01;
}

void ReceiptPreview::selectFont(Input& in)
{
    const uchar n = in.byte();
    if (n <= 1 || n == '0' || n == '1')
        m_face = (n & 0x01) ? ReceiptFont::FontB : ReceiptFont::FontA;
}

void ReceiptPreview::selectCharacterSize(Input& in)
{
    const uchar n = in.byte();
    m_scaleWidth = ((n >> 4) & 0x07) + 1;
    m_scaleHeight = (n & 0x07) + 1;
}

void ReceiptPreview::selectJustification(Input& in)
{
    const uchar n = in.byte();
    if (n <= 2 || (n >= '0' && n <= '2'))
        m_alignment = n & 0x03;
}

void ReceiptPreview::selectCodePage(Input& in)
{
    m_codePage = in.byte();
}

void ReceiptPreview::horizontalTab(Input&)
{
    // Default tab stops every 8 characters of the current size.
    const int interval = 8 * ReceiptFont::cellWidth(m_face) * m_scaleWidth;
    const int next = (m_lineX / interval + 1) * interval;
    if (m_line.isEmpty())
        m_lineAlignment = m_alignment;
    m_lineX = qMin(next, lineWidth());
}

// Line buffer and paper feed

void ReceiptPreview::selectDefaultLineSpacing(Input&)
{
    m_lineSpacing = defaultLineSpacing;
}

void ReceiptPreview::selectLineSpacing(Input& in)
{
    m_lineSpacing = in.byte();
}

void ReceiptPreview::selectMotionUnits(Input& in)
{
    // Motion units only rescale feeds; the preview counts feeds in dots.
    in.take(2);
}

void ReceiptPreview::lineFeed(Input&)
{
    printLine(m_lineSpacing);
}

void ReceiptPreview::carriageReturn(Input&) {}

void ReceiptPreview::ignoreByte(Input&) {}

void ReceiptPreview::printAndFeedLines(Input& in)
{
    const int n = in.byte();
    if (in.truncated())
        return;
    if (n == 0) {
        printLine(0);
        return;
    }
    if (printLine(m_lineSpacing) && n > 1)
        printLine((n - 1) * m_lineSpacing);
}

void ReceiptPreview::printAndFeedDots(Input& in)
{
    const int n = in.byte();
    if (!in.truncated())
        printLine(n);
}

int ReceiptPreview::lineWidth() const
{
    return m_pageMode && !m_pageArea.isNull() ? m_pageArea.width() : m_paper.width();
}

int ReceiptPreview::lineTop() const
{
    return m_pageMode ? m_pageTop + (m_pageArea.isNull() ? 0 : m_pageArea.top()) + m_pageY : m_y;
}

// Prints the line buffer at the current position and moves on by the feed, or
// by the height of the line when that is more. False once past the length limit.
bool ReceiptPreview::printLine(int feed)
{
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
        if (!m_pageArea.isNull() &&
            (m_lineX > m_pageArea.width() || top + height > m_pageTop + m_pageArea.bottom() + 1))
            note(QStringLiteral("Page mode data runs past its print area of %1 x %2 dots; the rest is not printed.")
                     .arg(m_pageArea.width())
                     .arg(m_pageArea.height()));
    } else if (m_lineAlignment == 1) {
        left = qMax(0, (lineWidth() - m_lineX) / 2);
    } else if (m_lineAlignment == 2) {
        left = qMax(0, lineWidth() - m_lineX);
    }
    for (const Item& item : qAsConst(m_line))
        drawItem(item, left + item.x, top + height - item.height); // a line's contents stand on its bottom
    m_line.clear();
    m_lineX = 0;
    if (m_pageMode) {
        m_pageY += advance;
        m_pageBottom = qMax(m_pageBottom, top + advance - m_pageTop);
    } else {
        m_y += advance;
        m_paper.extend(m_y);
    }
    return true;
}

void ReceiptPreview::drawItem(const Item& item, int x, int y)
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

// Bit images

void ReceiptPreview::bitImage(Input& in)
{
    const uchar mode = in.byte();
    const int low = in.byte();
    const int columns = low | in.byte() << 8;
    if (in.truncated())
        return;
    // 8-dot single and double density, 24-dot single and double density.
    if (mode != 0 && mode != 1 && mode != 32 && mode != 33) {
        stop(QStringLiteral("ESC * at byte %1 has the unknown mode %2; the preview stops there.")
                 .arg(m_commandStart)
                 .arg(mode));
        return;
    }
    Item item;
    item.bytesPerColumn = mode >= 32 ? 3 : 1;
    item.bits = in.take(qint64(columns) * item.bytesPerColumn);
    if (in.truncated() || columns == 0)
        return;
    const int dotWidth = (mode == 0 || mode == 32) ? 2 : 1;
    const int dotHeight = mode < 32 ? 3 : 1;
    item.columns = columns;
    item.width = columns * dotWidth;
    item.height = 8 * item.bytesPerColumn * dotHeight;
    const int room = lineWidth() - m_lineX;
    if (item.width > room) {
        // Printers drop the dots that run past the end of the line.
        note(QStringLiteral("A bit image of %1 dots does not fit the %2 dots of paper left on its line; "
                            "the rest is not printed.")
                 .arg(item.width)
                 .arg(qMax(0, room)));
        if (room < dotWidth)
            return;
        item.columns = room / dotWidth;
        item.width = item.columns * dotWidth;
    }
    addItem(item);
}

// Cut and drawer

void ReceiptPreview::cut(Input& in)
{
    const uchar mode = in.byte();
    const bool feeds = mode == 65 || mode == 66;
    const int feed = feeds ? in.byte() : 0;
    if (in.truncated())
        return;
    if (!feeds && mode != 0 && mode != 1 && mode != '0' && mode != '1') {
        stop(QStringLiteral("GS V at byte %1 has the unknown mode %2; the preview stops there.")
                 .arg(m_commandStart)
                 .arg(mode));
        return;
    }
    if (m_pageMode)
        return; // printers ignore a cut in page mode
    if (!m_line.isEmpty() && !printLine(m_lineSpacing))
        return;
    if (feed > 0 && !printLine(feed))
        return;
    // The dashed line, then a little paper so that it stands apart from what follows.
    for (int x = 0; x < m_paper.width(); x += 12)
        m_paper.fill(x, m_y + 3, 8, 2);
    m_y += 8;
    m_paper.extend(m_y);
}

void ReceiptPreview::pulse(Input& in)
{
    const uchar pin = in.byte();
    const uchar on = in.byte();
    in.byte();
    if (in.truncated() || m_pageMode)
        return;
    mark(QStringLiteral("cash drawer, pin %1, %2 ms").arg((pin & 0x01) ? 5 : 2).arg(on * 2));
}

// A marked line across the paper with a label in its middle: something that
// happened at this point of the receipt but prints nothing.
void ReceiptPreview::mark(const QString& label)
{
    const ReceiptFont::Face face = ReceiptFont::FontB;
    const int height = ReceiptFont::cellHeight(face);
    if (m_y + height + 6 > m_maxHeight)
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

// Page mode

void ReceiptPreview::selectPageMode(Input&)
{
    // Like printers, only at the start of a line and only once.
    if (m_pageMode || !m_line.isEmpty())
        return;
    m_pageMode = true;
    m_pageTop = m_y;
    m_pageArea = QRect();
    m_pageY = 0;
    m_pageBottom = 0;
}

void ReceiptPreview::selectStandardMode(Input&)
{
    if (m_pageMode)
        leavePageMode(false);
}

void ReceiptPreview::setPrintArea(Input& in)
{
    const uchar* p = in.take(8);
    if (!p || !m_pageMode)
        return;
    const int x = p[0] | p[1] << 8;
    const int y = p[2] | p[3] << 8;
    const int width = qMin(p[4] | p[5] << 8, m_paper.width() - x);
    const int height = p[6] | p[7] << 8;
    if (width <= 0 || height <= 0)
        return;
    m_pageArea = QRect(x, y, width, height);
    m_pageY = 0;
    m_paper.setClip(QRect(x, m_pageTop + y, width, height));
}

void ReceiptPreview::formFeed(Input&)
{
    if (m_pageMode)
        leavePageMode(true);
}

// Back to standard mode: a printed page ends at the bottom of its area (or of
// what was drawn on it); a page never printed is taken off the paper again.
void ReceiptPreview::leavePageMode(bool print)
{
    if (print && !m_line.isEmpty())
        printLine(0);
    m_line.clear();
    m_lineX = 0;
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

// Notes

void ReceiptPreview::drawText(const QString& text, int x, int y, ReceiptFont::Face face)
{
    Item item;
    item.width = ReceiptFont::cellWidth(face);
    for (int i = 0; i < text.size(); ++i) {
        item.glyph = &ReceiptFont::glyph(text.at(i).unicode(), face);
        drawItem(item, x + i * item.width, y);
    }
}

void ReceiptPreview::drawNotes()
{
    if (m_notes.isEmpty())
        return;
    const ReceiptFont::Face face = ReceiptFont::FontB;
    const int perLine = qMax(1, m_paper.width() / ReceiptFont::cellWidth(face));
    m_paper.setClip(QRect());
    int y = m_paper.height() + 8;
    for (int x = 0; x < m_paper.width(); x += 2)
        m_paper.fill(x, y, 1, 1);
    y += 6;
    for (const QString& text : qAsConst(m_notes)) {
        // Wrapped at spaces where it can, as notes are plain sentences.
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
}

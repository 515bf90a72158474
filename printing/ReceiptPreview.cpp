#include "printing/ReceiptPreview.h"

#include "printing/generated/CodePageTables.h"

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
        {0, '\x00', &ReceiptPreview::nul},                     // 00 NUL: a character no code page has
        {0, '\x09', &ReceiptPreview::horizontalTab},           // 09 HT: horizontal tab
        {0, '\x0A', &ReceiptPreview::lineFeed},                // 0A LF: print and feed one line
        {0, '\x0C', &ReceiptPreview::formFeed},                // 0C FF: print the page (page mode)
        {0, '\x0D', &ReceiptPreview::ignore},                  // 0D CR: ignored without automatic line feed
        {ESC, '@', &ReceiptPreview::initialise},               // 1B 40 ESC @: initialise
        {ESC, '!', &ReceiptPreview::selectPrintMode},          // 1B 21 ESC ! n: select print mode
        {ESC, '-', &ReceiptPreview::selectUnderline},          // 1B 2D ESC - n: underline
        {ESC, 'E', &ReceiptPreview::selectEmphasis},           // 1B 45 ESC E n: emphasis
        {ESC, 'G', &ReceiptPreview::selectEmphasis},           // 1B 47 ESC G n: double strike, drawn as emphasis
        {ESC, 'M', &ReceiptPreview::selectFont},               // 1B 4D ESC M n: select font
        {ESC, 'a', &ReceiptPreview::selectJustification},      // 1B 61 ESC a n: justification
        {ESC, 't', &ReceiptPreview::selectCodePage},           // 1B 74 ESC t n: select character code table
        {ESC, '2', &ReceiptPreview::selectDefaultLineSpacing}, // 1B 32 ESC 2: default line spacing
        {ESC, '3', &ReceiptPreview::selectLineSpacing},        // 1B 33 ESC 3 n: line spacing
        {ESC, 'd', &ReceiptPreview::printAndFeedLines},        // 1B 64 ESC d n: print and feed n lines
        {ESC, 'J', &ReceiptPreview::printAndFeedDots},         // 1B 4A ESC J n: print and feed n dots
        {ESC, '*', &ReceiptPreview::bitImage},                 // 1B 2A ESC * m nL nH d...: bit image
        {ESC, 'p', &ReceiptPreview::pulse},                    // 1B 70 ESC p m t1 t2: drawer pulse
        {ESC, 'L', &ReceiptPreview::selectPageMode},           // 1B 4C ESC L: page mode
        {ESC, 'S', &ReceiptPreview::selectStandardMode},       // 1B 53 ESC S: standard mode
        {ESC, 'W', &ReceiptPreview::setPrintArea},             // 1B 57 ESC W x y dx dy: print area
        {GS, '!', &ReceiptPreview::selectCharacterSize},       // 1D 21 GS ! n: character size
        {GS, 'P', &ReceiptPreview::selectMotionUnits},         // 1D 50 GS P x y: motion units
        {GS, 'V', &ReceiptPreview::cut},                       // 1D 56 GS V m [n]: cut
        {GS, '(', &ReceiptPreview::twoDimensionalCode},        // 1D 28 6B GS ( k pL pH cn fn ...: QR code
        {GS, 'h', &ReceiptPreview::barcodeSetting},            // 1D 68 GS h n: barcode height
        {GS, 'w', &ReceiptPreview::barcodeSetting},            // 1D 77 GS w n: barcode module width
        {GS, 'H', &ReceiptPreview::barcodeSetting},            // 1D 48 GS H n: barcode text position
        {GS, 'k', &ReceiptPreview::barcode},                   // 1D 6B GS k m n d...: print a barcode
    };
    for (const Command& command : commands) {
        if (command.prefix == prefix && command.code == code)
            return &command;
    }
    return nullptr;
}

ReceiptPreview::ReceiptPreview(int dotWidth, int maxHeight)
    : m_layout(dotWidth, maxHeight)
{}

QImage ReceiptPreview::draw(const QByteArray& bytes)
{
    Input in(bytes);
    while (!m_stopped && !m_layout.full() && !in.atEnd()) {
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
    if (!m_stopped && !m_layout.full()) {
        if (m_layout.pageMode()) {
            m_layout.leavePageMode(false);
            note(QStringLiteral("The page mode data never got its FF: a printer does not print it."));
        }
        if (!m_layout.lineEmpty())
            note(QStringLiteral("The last line has no line end: a printer keeps it until more data comes."));
    }
    if (m_lostCharacters > 0)
        note(QStringLiteral("%1 character(s) that no code page holds went out as 00 and print nothing (the first at "
                            "byte %2).")
                 .arg(m_lostCharacters)
                 .arg(m_firstLostCharacter));
    if (m_drewText) {
        const QString family = ReceiptFont::family();
        if (family.isEmpty())
            note(QStringLiteral("Text is not drawn: without a GUI application there are no fonts."));
        else if (family != ReceiptFont::preferredFamily())
            note(QStringLiteral("%1 is not installed; text is drawn in %2.")
                     .arg(ReceiptFont::preferredFamily(), family));
    }
    return m_layout.finish();
}

void ReceiptPreview::stop(const QString& text)
{
    m_stopped = true;
    note(text);
}

// Text and print modes

void ReceiptPreview::printCharacter(uchar byte)
{
    const char16_t* page = m_codePage < CodePageTables::pageCount ? CodePageTables::pages[m_codePage] : nullptr;
    // A page we have no table for shares ASCII with the others; its upper half is unknown.
    const char16_t character = page ? page[byte - 1] : (byte < 0x80 ? char16_t(byte) : char16_t(0xFFFD));
    m_drewText = true;
    ReceiptLayout::Item item;
    item.glyph = &ReceiptFont::glyph(character, m_face);
    item.scaleWidth = m_scaleWidth;
    item.scaleHeight = m_scaleHeight;
    item.width = ReceiptFont::cellWidth(m_face) * m_scaleWidth;
    item.height = ReceiptFont::cellHeight(m_face) * m_scaleHeight;
    item.emphasized = m_emphasized;
    item.underline = m_underline;
    // A character that does not fit prints the line and starts the next one.
    if (m_layout.lineX() > 0 && m_layout.lineX() + item.width > m_layout.lineWidth() &&
        !m_layout.printLine(m_lineSpacing))
        return;
    m_layout.add(item, m_justification);
}

void ReceiptPreview::initialise(Input&)
{
    if (m_layout.pageMode()) {
        m_layout.leavePageMode(false);
        note(QStringLiteral("ESC @ at byte %1 threw away page mode data that was never printed.").arg(m_commandStart));
    } else if (!m_layout.lineEmpty()) {
        note(QStringLiteral("ESC @ at byte %1 threw away a line that was never printed.").arg(m_commandStart));
    }
    m_layout.discardLine();
    m_codes.reset();
    m_face = ReceiptFont::FontA;
    m_emphasized = false;
    m_underline = 0;
    m_scaleWidth = m_scaleHeight = 1;
    m_justification = 0;
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
        m_justification = n & 0x03;
}

void ReceiptPreview::selectCodePage(Input& in)
{
    m_codePage = in.byte();
    if (!in.truncated() && (m_codePage >= CodePageTables::pageCount || !CodePageTables::pages[m_codePage]))
        note(QStringLiteral("Code page %1 is none the connector knows; its characters above 7F are drawn as \uFFFD.")
                 .arg(m_codePage));
}

void ReceiptPreview::horizontalTab(Input&)
{
    // Default tab stops every 8 characters of the current size.
    const int interval = 8 * ReceiptFont::cellWidth(m_face) * m_scaleWidth;
    m_layout.skipTo(qMin((m_layout.lineX() / interval + 1) * interval, m_layout.lineWidth()), m_justification);
}

// Paper feed

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

void ReceiptPreview::ignore(Input&) {}

void ReceiptPreview::nul(Input&)
{
    // The encoder sends 00 for a character that no code page holds; printers skip it.
    if (m_lostCharacters++ == 0)
        m_firstLostCharacter = m_commandStart;
}

void ReceiptPreview::lineFeed(Input&)
{
    m_layout.printLine(m_lineSpacing);
}

void ReceiptPreview::printAndFeedLines(Input& in)
{
    const int n = in.byte();
    if (in.truncated())
        return;
    if (n == 0)
        m_layout.printLine(0);
    else if (m_layout.printLine(m_lineSpacing) && n > 1)
        m_layout.printLine((n - 1) * m_lineSpacing);
}

void ReceiptPreview::printAndFeedDots(Input& in)
{
    const int n = in.byte();
    if (!in.truncated())
        m_layout.printLine(n);
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
    ReceiptLayout::Item item;
    item.bytesPerColumn = mode >= 32 ? 3 : 1;
    item.bits = in.take(qint64(columns) * item.bytesPerColumn);
    if (in.truncated() || columns == 0)
        return;
    const int dotWidth = (mode == 0 || mode == 32) ? 2 : 1;
    const int dotHeight = mode < 32 ? 3 : 1;
    item.columns = columns;
    item.width = columns * dotWidth;
    item.height = 8 * item.bytesPerColumn * dotHeight;
    const int room = m_layout.lineWidth() - m_layout.lineX();
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
    m_layout.add(item, m_justification);
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
    if (m_layout.pageMode())
        return; // printers ignore a cut in page mode
    if (!m_layout.lineEmpty() && !m_layout.printLine(m_lineSpacing))
        return;
    m_layout.cut(feed);
}

void ReceiptPreview::pulse(Input& in)
{
    const uchar pin = in.byte();
    const uchar on = in.byte();
    in.byte();
    if (!in.truncated() && !m_layout.pageMode())
        m_layout.mark(QStringLiteral("cash drawer, pin %1, %2 ms").arg((pin & 0x01) ? 5 : 2).arg(on * 2));
}

// Page mode

void ReceiptPreview::selectPageMode(Input&)
{
    // Like printers, only at the start of a line and only once.
    if (!m_layout.pageMode() && m_layout.lineEmpty())
        m_layout.enterPageMode();
}

void ReceiptPreview::selectStandardMode(Input&)
{
    if (m_layout.pageMode())
        m_layout.leavePageMode(false);
}

void ReceiptPreview::setPrintArea(Input& in)
{
    const uchar* p = in.take(8);
    if (p)
        m_layout.setPrintArea(QRect(p[0] | p[1] << 8, p[2] | p[3] << 8, p[4] | p[5] << 8, p[6] | p[7] << 8));
}

void ReceiptPreview::formFeed(Input&)
{
    if (m_layout.pageMode())
        m_layout.leavePageMode(true);
}

// QR codes and barcodes

void ReceiptPreview::twoDimensionalCode(Input& in)
{
    const uchar function = in.byte();
    const int low = in.byte();
    const int length = low | in.byte() << 8;
    const uchar* p = in.take(length);
    if (in.truncated())
        return;
    QImage picture;
    QString problem;
    // Only GS ( k for QR codes (cn 49) and its functions; other symbols and GS ( commands are unknown here.
    if (function != 'k' || length < 2 || p[0] != 49 ||
        !m_codes.qrFunction(p[1], QByteArray(reinterpret_cast<const char*>(p) + 2, length - 2), &picture, &problem)) {
        stop(QStringLiteral("Unknown command %1 at byte %2; the preview stops there.")
                 .arg(hex(in.at(m_commandStart), qMin(in.position() - m_commandStart, 7)))
                 .arg(m_commandStart));
        return;
    }
    printCode(picture, problem);
}

void ReceiptPreview::barcodeSetting(Input& in)
{
    const char code = *in.at(m_commandStart + 1);
    const int n = in.byte();
    if (in.truncated())
        return;
    if (code == 'h')
        m_codes.setBarcodeHeight(n);
    else if (code == 'w')
        m_codes.setModuleWidth(n);
    else
        m_codes.setHriPosition(n);
}

void ReceiptPreview::barcode(Input& in)
{
    const uchar type = in.byte();
    // The form with a length byte (m 65 and up); the older form ends its data with NUL.
    const int length = type >= 65 ? in.byte() : 0;
    const uchar* p = type >= 65 ? in.take(length) : nullptr;
    if (in.truncated())
        return;
    QImage picture;
    QString problem;
    if (!p || !m_codes.barcode(type, QByteArray(reinterpret_cast<const char*>(p), length), &picture, &problem)) {
        stop(QStringLiteral("GS k at byte %1 has the barcode type %2 that the preview does not draw; it stops there.")
                 .arg(m_commandStart)
                 .arg(type));
        return;
    }
    printCode(picture, problem);
}

// A code prints at once, on a line of its own under the justification in force.
void ReceiptPreview::printCode(const QImage& picture, const QString& problem)
{
    if (!problem.isEmpty())
        note(problem);
    if (picture.isNull())
        return;
    if (!m_layout.lineEmpty() && !m_layout.printLine(m_lineSpacing))
        return;
    if (picture.width() > m_layout.lineWidth())
        note(QStringLiteral("A code of %1 dots does not fit the %2 dots of paper; the rest is not printed.")
                 .arg(picture.width())
                 .arg(m_layout.lineWidth()));
    ReceiptLayout::Item item;
    item.picture = picture;
    item.width = picture.width();
    item.height = picture.height();
    m_layout.add(item, m_justification);
    m_layout.printLine(0);
}

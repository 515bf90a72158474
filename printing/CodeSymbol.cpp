#include "printing/CodeSymbol.h"

#include "printing/ReceiptFont.h"
#include "printing/ReceiptPaper.h"

#include <zint.h>

#include <memory>

namespace {

using Symbol = std::unique_ptr<zint_symbol, decltype(&ZBarcode_Delete)>;

// zint's messages begin with "Error 123: " or "Warning 123: ".
QString reason(const zint_symbol* symbol)
{
    const QString text = QString::fromLatin1(symbol->errtxt);
    const int colon = text.indexOf(QLatin1String(": "));
    return colon >= 0 ? text.mid(colon + 2) : text;
}

// Narrow and wide bar widths of CODE39 and ITF for a module width of 2 to 6
// dots, as printers make them (a ratio of 2.5 to 1 or a little more).
int wideWidth(int narrow)
{
    static const int wide[] = {5, 8, 10, 13, 15};
    return wide[qBound(2, narrow, 6) - 2];
}

// Font A cells, the printer's font for human-readable text, centred on the picture.
void drawHri(ReceiptPaper& paper, const QByteArray& text, int top)
{
    const int cell = ReceiptFont::cellWidth(ReceiptFont::FontA);
    const int left = (paper.width() - text.size() * cell) / 2;
    for (int i = 0; i < text.size(); ++i) {
        for (const ReceiptFont::Run& run : ReceiptFont::glyph(char16_t(uchar(text.at(i))), ReceiptFont::FontA))
            paper.fill(left + i * cell + run.start, top + run.row, run.end - run.start, 1);
    }
}

ReceiptPaper blank(int width, int height)
{
    ReceiptPaper paper(width);
    paper.extend(qMax(1, height));
    return paper;
}

} // namespace

CodeSymbol CodeSymbol::qrCode(const QByteArray& data, char level, QString* error)
{
    CodeSymbol code;
    const Symbol symbol(ZBarcode_Create(), &ZBarcode_Delete);
    if (!symbol) {
        *error = QStringLiteral("out of memory");
        return code;
    }
    symbol->symbology = BARCODE_QRCODE;
    symbol->input_mode = DATA_MODE; // the bytes as they are, as the printer stores them
    symbol->option_1 = QByteArray("LMQH").indexOf(level) + 1;
    const int result = ZBarcode_Encode(symbol.get(), reinterpret_cast<const uchar*>(data.constData()), data.size());
    if (result >= ZINT_ERROR) {
        *error = result == ZINT_ERROR_TOO_LONG
                     ? QStringLiteral("\"text\" is too long for a QR code with error correction %1").arg(level)
                     : reason(symbol.get());
        return code;
    }
    code.m_type = QrCode;
    code.m_width = symbol->width;
    code.m_rows = symbol->rows;
    code.m_modules.resize(code.m_width * code.m_rows);
    for (int y = 0; y < code.m_rows; ++y)
        for (int x = 0; x < code.m_width; ++x)
            code.m_modules[y * code.m_width + x] = (symbol->encoded_data[y][x >> 3] >> (x & 7)) & 1;
    return code;
}

CodeSymbol::Code128Set CodeSymbol::code128Set(const QByteArray& text)
{
    if (text.isEmpty() || text.size() % 2 != 0)
        return SetB;
    for (char c : text) {
        if (c < '0' || c > '9')
            return SetB;
    }
    return SetC;
}

CodeSymbol CodeSymbol::barcode(Type type, const QByteArray& text, QString* error, Code128Set set)
{
    CodeSymbol code;
    const Symbol symbol(ZBarcode_Create(), &ZBarcode_Delete);
    if (!symbol) {
        *error = QStringLiteral("out of memory");
        return code;
    }
    // EAN and UPC go to zint without their check digit, which it adds; the
    // caller has checked the one the text brought. zint's CODE128 puts an even
    // number of digits wholly in code set C.
    QByteArray data = text;
    switch (type) {
    case Code128:
        symbol->symbology = set == SetC ? BARCODE_CODE128 : BARCODE_CODE128B;
        break;
    case Ean13:
    case Ean8:
        symbol->symbology = BARCODE_EANX;
        data.chop(1);
        break;
    case UpcA:
        symbol->symbology = BARCODE_UPCA;
        data.chop(1);
        break;
    case Code39:
        symbol->symbology = BARCODE_CODE39;
        break;
    case Itf:
        symbol->symbology = BARCODE_C25INTER;
        break;
    case QrCode:
        *error = QStringLiteral("not a barcode");
        return code;
    }
    symbol->input_mode = DATA_MODE;
    const int result = ZBarcode_Encode(symbol.get(), reinterpret_cast<const uchar*>(data.constData()), data.size());
    if (result >= ZINT_ERROR || symbol->rows < 1) {
        *error = reason(symbol.get());
        return code;
    }
    code.m_type = type;
    code.m_width = symbol->width;
    code.m_rows = 1;
    code.m_modules.resize(code.m_width);
    for (int x = 0; x < code.m_width; ++x)
        code.m_modules[x] = (symbol->encoded_data[0][x >> 3] >> (x & 7)) & 1;
    code.m_hri = text;
    return code;
}

QImage CodeSymbol::qrPicture(int moduleSize, int quietZone) const
{
    ReceiptPaper paper = blank(qrWidth(moduleSize, quietZone), (m_rows + 2 * quietZone) * moduleSize);
    for (int y = 0; y < m_rows; ++y)
        for (int x = 0; x < m_width; ++x)
            if (module(y, x))
                paper.fill((quietZone + x) * moduleSize, (quietZone + y) * moduleSize, moduleSize, moduleSize);
    return paper.image();
}

QVector<int> CodeSymbol::elements(int moduleWidth) const
{
    // zint draws wide elements two (CODE39) or three (ITF) modules wide; printers
    // make them wider than two narrow ones by their own rule.
    const bool binaryLevel = m_type == Code39 || m_type == Itf;
    QVector<int> widths;
    for (int x = 0; x < m_width;) {
        int run = 1;
        while (x + run < m_width && module(0, x + run) == module(0, x))
            ++run;
        if (widths.isEmpty() && !module(0, x))
            widths.append(0); // starts with a space: an empty first bar
        widths.append(binaryLevel ? (run == 1 ? moduleWidth : wideWidth(moduleWidth)) : run * moduleWidth);
        x += run;
    }
    return widths;
}

int CodeSymbol::barcodeWidth(int moduleWidth, Hri hri) const
{
    int bars = 0;
    for (int width : elements(moduleWidth))
        bars += width;
    const int text = hri == HriNone ? 0 : m_hri.size() * ReceiptFont::cellWidth(ReceiptFont::FontA);
    return qMax(bars, text);
}

QImage CodeSymbol::barcodePicture(int moduleWidth, int height, Hri hri) const
{
    const bool above = hri & HriAbove;
    const bool below = hri & HriBelow;
    const int width = barcodeWidth(moduleWidth, hri);
    ReceiptPaper paper = blank(width, (above ? hriHeight : 0) + height + (below ? hriHeight : 0));
    const QVector<int> widths = elements(moduleWidth);
    int bars = 0;
    for (int w : widths)
        bars += w;
    const int top = above ? hriHeight : 0;
    int x = (width - bars) / 2;
    for (int i = 0; i < widths.size(); ++i) {
        if (i % 2 == 0)
            paper.fill(x, top, widths.at(i), height);
        x += widths.at(i);
    }
    if (above)
        drawHri(paper, m_hri, 0);
    if (below)
        drawHri(paper, m_hri, top + height);
    return paper.image();
}

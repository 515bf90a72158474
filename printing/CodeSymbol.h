#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QVector>

// A QR code or a barcode encoded by libzint, drawn dot for dot as a receipt
// printer prints it: QR modules of a given size in dots; bars of a module width,
// with the wide bars of CODE39 and ITF as printers make them, a bar height and
// the human-readable text in font A above and/or below. The same drawing serves
// the preview of the printer's own commands and the bit image sent to printers
// without them, so that both show the same modules.
class CodeSymbol
{
public:
    enum Type { QrCode, Code128, Ean13, Ean8, UpcA, Code39, Itf };
    enum Hri { HriNone = 0, HriAbove = 1, HriBelow = 2, HriBoth = 3 };
    // CODE128 code sets: B all through (printable ASCII), or C all through for an
    // even number of digits (other text gets the sets zint chooses).
    enum Code128Set { SetB, SetC };

    static constexpr int hriHeight = 24; // one line of font A

    // level is 'L', 'M', 'Q' or 'H'. Null with the reason in error when the data does not fit.
    static CodeSymbol qrCode(const QByteArray& data, char level, QString* error);
    // The text as the symbology carries it: EAN and UPC with their check digit
    // (the caller checks it), CODE128 in one code set.
    static CodeSymbol barcode(Type type, const QByteArray& text, QString* error, Code128Set set = SetB);
    // The set a CODE128 text takes: C for an even number of digits, else B.
    static Code128Set code128Set(const QByteArray& text);

    bool isNull() const { return m_modules.isEmpty(); }
    Type type() const { return m_type; }
    // Modules across (a QR code's side, a barcode's length in narrow modules).
    int moduleCount() const { return m_width; }
    QByteArray hriText() const { return m_hri; }

    // QR: side of a module in dots, and a quiet zone in modules around it.
    QImage qrPicture(int moduleSize, int quietZone) const;
    int qrWidth(int moduleSize, int quietZone) const { return (m_width + 2 * quietZone) * moduleSize; }
    // Barcode: narrow module width in dots (2 to 6), bar height in dots, text position.
    QImage barcodePicture(int moduleWidth, int height, Hri hri) const;
    int barcodeWidth(int moduleWidth, Hri hri) const;

private:
    bool module(int row, int column) const { return m_modules.at(row * m_width + column); }
    // Bar and space widths in dots, starting with a bar.
    QVector<int> elements(int moduleWidth) const;

    Type m_type = QrCode;
    int m_width = 0;
    int m_rows = 0;
    QVector<bool> m_modules; // row by row
    QByteArray m_hri;
};

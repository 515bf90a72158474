#include "printing/ReceiptCodes.h"

#include "printing/CodeOperation.h"

bool ReceiptCodes::qrFunction(uchar fn, const QByteArray& parameters, QImage* picture, QString* note)
{
    const uchar n = parameters.isEmpty() ? 0 : uchar(parameters.at(0));
    switch (fn) {
    case 65: // model: 1, 2 or micro; drawn as model 2
    case 82: // size information, sent back to the host
        return true;
    case 67: // module size
        if (n >= 1 && n <= 16)
            m_qrSize = n;
        return true;
    case 69: // error correction, 48 L to 51 H
        if (n >= 48 && n <= 51)
            m_qrLevel = "LMQH"[n - 48];
        return true;
    case 80: // store: m 48, then the data
        m_qrData = parameters.mid(1);
        return true;
    case 81: { // print the stored data
        QString error;
        const CodeSymbol symbol = CodeSymbol::qrCode(m_qrData, m_qrLevel, &error);
        if (m_qrData.isEmpty())
            *note = QStringLiteral("A QR code is printed with no data stored; nothing prints.");
        else if (symbol.isNull())
            *note = QStringLiteral("The QR code data cannot be encoded (%1); nothing prints.").arg(error);
        else
            *picture = symbol.qrPicture(m_qrSize, 0); // the printer leaves the quiet zone to the receipt
        return true;
    }
    default:
        return false;
    }
}

bool ReceiptCodes::barcode(uchar type, const QByteArray& data, QImage* picture, QString* note) const
{
    CodeSymbol::Type symbology;
    QByteArray text = data;
    CodeSymbol::Code128Set set = CodeSymbol::SetB;
    int digits = 0; // EAN and UPC: without the check digit
    switch (type) {
    case 65:
        symbology = CodeSymbol::UpcA;
        digits = 11;
        break;
    case 67:
        symbology = CodeSymbol::Ean13;
        digits = 12;
        break;
    case 68:
        symbology = CodeSymbol::Ean8;
        digits = 7;
        break;
    case 69:
        symbology = CodeSymbol::Code39;
        if (text.size() >= 2 && text.startsWith('*') && text.endsWith('*'))
            text = text.mid(1, text.size() - 2); // start and stop given with the data
        break;
    case 70:
        symbology = CodeSymbol::Itf;
        break;
    case 73: {
        symbology = CodeSymbol::Code128;
        // "{A", "{B" and "{C" select a code set, "{{" is a "{", "{1" to "{4" and
        // "{S" are function codes; in set C a byte is two digits. One set B or C
        // all through draws exactly; other mixes are drawn in sets of zint's choice.
        text.clear();
        QByteArray sets;
        bool digitsValid = true;
        for (int i = 0; i < data.size(); ++i) {
            const char c = data.at(i);
            if (c == '{' && i + 1 < data.size() && data.at(i + 1) != '{') {
                if (QByteArray("ABC").contains(data.at(++i)))
                    sets.append(data.at(i));
                continue;
            }
            i += c == '{' ? 1 : 0;
            if (sets.endsWith('C')) {
                digitsValid = digitsValid && uchar(c) <= 99;
                text.append(char('0' + uchar(c) / 10 % 10)).append(char('0' + uchar(c) % 10));
            } else {
                text.append(c);
            }
        }
        if (!data.startsWith('{') || sets.isEmpty() || text.isEmpty() || !digitsValid) {
            *note = QStringLiteral("A CODE128 barcode without a code set or with no valid data; nothing prints.");
            return true;
        }
        set = sets == "B" ? CodeSymbol::SetB : CodeSymbol::SetC;
        break;
    }
    default:
        return false;
    }
    if (digits > 0) {
        if (text.size() == digits)
            text.append(CodeOperation::checkDigit(text));
        if (text.size() != digits + 1 || text.at(digits) != CodeOperation::checkDigit(text.left(digits))) {
            *note = QStringLiteral("A barcode of type %1 with data \"%2\" is no valid number; nothing prints.")
                        .arg(type)
                        .arg(QString::fromLatin1(data));
            return true;
        }
    }
    QString error;
    const CodeSymbol symbol = CodeSymbol::barcode(symbology, text, &error, set);
    if (symbol.isNull())
        *note = QStringLiteral("A barcode of type %1 cannot be encoded (%2); nothing prints.").arg(type).arg(error);
    else
        *picture = symbol.barcodePicture(m_moduleWidth, m_height, CodeSymbol::Hri(m_hri));
    return true;
}

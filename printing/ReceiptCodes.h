#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// The QR code and barcode side of a receipt printer for the preview: the
// settings that GS ( k, GS h, GS w and GS H leave behind, the QR data stored
// for printing, and the pictures that the print commands make of them.
class ReceiptCodes
{
public:
    // As at power-on and after ESC @.
    void reset() { *this = ReceiptCodes(); }

    // One QR function of GS ( k (cn 49): false for a function the printer does not
    // have. fn 81 (print) sets picture, or a note when nothing prints.
    bool qrFunction(uchar fn, const QByteArray& parameters, QImage* picture, QString* note);

    void setBarcodeHeight(int dots) { m_height = qMax(1, dots); }
    void setModuleWidth(int dots)
    {
        if (dots >= 2 && dots <= 6)
            m_moduleWidth = dots;
    }
    void setHriPosition(int position)
    {
        if ((position >= 0 && position <= 3) || (position >= '0' && position <= '3'))
            m_hri = position & 0x03;
    }
    // GS k m n d1...dn: false for a type m that the preview does not draw; else
    // the picture, or a note when the printer would print nothing.
    bool barcode(uchar type, const QByteArray& data, QImage* picture, QString* note) const;

private:
    int m_qrSize = 3;
    char m_qrLevel = 'L';
    QByteArray m_qrData;
    int m_height = 162;
    int m_moduleWidth = 3;
    int m_hri = 0;
};

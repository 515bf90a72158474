#pragma once

#include "printing/CodeSymbol.h"

#include <QByteArray>
#include <QImage>
#include <QJsonValue>
#include <QString>

// A "qrcode" or "barcode" operation of a print job, read from its data object
// and encoded at once, so that a code that cannot print is known before any
// byte of the job is sent. It prints through the printer's own commands or, for
// printers without them, as a bit image of the same modules.
class CodeOperation
{
public:
    static constexpr int maxQrBytes = 2000;
    static constexpr int qrQuietZone = 4; // modules around a QR code sent as an image

    // "qrcode" and "barcode".
    static bool handles(const QString& op);

    CodeOperation(const QString& op, const QJsonValue& data);

    // Why it cannot print; empty when it can.
    QString error() const { return m_error; }
    // "native" of the data: the printer's own commands rather than an image.
    bool native() const { return m_native; }

    // QR: GS ( k, model 2 (model, module size, error correction, store, print).
    // Barcode: GS h, GS w, GS H, then GS k with a length byte.
    QByteArray commands() const;
    // What prints as an image: a QR code with its quiet zone, a barcode as the
    // printer draws it.
    QImage picture() const;
    // Dots across on paper: as the printer's commands draw it, or as the image.
    int width(bool asImage) const;

    // The check digit of EAN and UPC numbers (without it).
    static char checkDigit(const QByteArray& digits);

private:
    bool readQrCode(const QJsonObject& data);
    bool readBarcode(const QJsonObject& data);
    bool readDigits(const char* name, int length);
    bool refuse(const QString& reason);
    // The data of GS k: CODE128 with its code set prefix.
    QByteArray barcodeData() const;

    bool m_qr = false;
    CodeSymbol m_symbol;
    QByteArray m_text; // UTF-8; EAN and UPC with their check digit
    int m_size = 6;
    char m_level = 'M';
    int m_height = 80;
    int m_moduleWidth = 3;
    CodeSymbol::Hri m_hri = CodeSymbol::HriBelow;
    bool m_native = true;
    QString m_error;
};

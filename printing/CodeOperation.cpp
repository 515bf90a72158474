#include "printing/CodeOperation.h"

#include <QJsonObject>

#include <cmath>
#include <cstring>

namespace {

struct BarcodeType
{
    const char* name;
    CodeSymbol::Type type;
    char command; // m of GS k m n (the form with a length byte)
};

const BarcodeType barcodeTypes[] = {
    {"UPCA", CodeSymbol::UpcA, 65},     {"EAN13", CodeSymbol::Ean13, 67}, {"EAN8", CodeSymbol::Ean8, 68},
    {"CODE39", CodeSymbol::Code39, 69}, {"ITF", CodeSymbol::Itf, 70},     {"CODE128", CodeSymbol::Code128, 73},
};

// Absent: value keeps its default. Present: a whole number from low to high.
bool readInt(const QJsonObject& data, const char* key, int low, int high, int* value)
{
    const QJsonValue v = data.value(QLatin1String(key));
    if (v.isUndefined())
        return true;
    const double d = v.toDouble(std::nan(""));
    if (!v.isDouble() || d != std::floor(d) || d < low || d > high)
        return false;
    *value = int(d);
    return true;
}

// Absent: index keeps its default. Present: one of the choices, exactly.
bool readChoice(const QJsonObject& data, const char* key, const QStringList& choices, int* index)
{
    const QJsonValue v = data.value(QLatin1String(key));
    if (v.isUndefined())
        return true;
    const int found = v.isString() ? int(choices.indexOf(v.toString())) : -1;
    if (found < 0)
        return false;
    *index = found;
    return true;
}

bool allDigits(const QByteArray& text)
{
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return !text.isEmpty();
}

// The first character of a text as an error shows it: in quotes, or by its
// code when it cannot be seen (a NUL, a line end).
QString shownFirst(const QByteArray& text)
{
    const QString first = QString::fromUtf8(text).left(1);
    if (!first.isEmpty() && first.at(0).isPrint())
        return QLatin1Char('"') + first + QLatin1Char('"');
    return QStringLiteral("U+%1").arg(first.isEmpty() ? 0 : first.at(0).unicode(), 4, 16, QLatin1Char('0')).toUpper();
}

// The first character that a symbology cannot carry, or -1.
int firstOutside(const QByteArray& text, const char* allowed)
{
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == '\0' || !std::strchr(allowed, text.at(i)))
            return i;
    }
    return -1;
}

char commandType(CodeSymbol::Type type)
{
    for (const BarcodeType& candidate : barcodeTypes) {
        if (candidate.type == type)
            return candidate.command;
    }
    return 0;
}

const char code39Characters[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ -.$/+%";

void appendCommand(QByteArray& out, std::initializer_list<char> bytes)
{
    out.append(bytes.begin(), int(bytes.size()));
}

} // namespace

bool CodeOperation::handles(const QString& op)
{
    return op == QLatin1String("qrcode") || op == QLatin1String("barcode");
}

CodeOperation::CodeOperation(const QString& op, const QJsonValue& data)
    : m_qr(op == QLatin1String("qrcode"))
{
    if (!data.isObject()) {
        refuse(QStringLiteral("\"data\" must be an object"));
        return;
    }
    const QJsonObject object = data.toObject();
    const QJsonValue text = object.value(QLatin1String("text"));
    if (text.isUndefined()) {
        refuse(QStringLiteral("\"text\" is missing"));
        return;
    }
    if (!text.isString() || text.toString().isEmpty()) {
        refuse(QStringLiteral("\"text\" must be a string that is not empty"));
        return;
    }
    m_text = text.toString().toUtf8();
    const QJsonValue native = object.value(QLatin1String("native"));
    if (!native.isUndefined() && !native.isBool()) {
        refuse(QStringLiteral("\"native\" must be true or false"));
        return;
    }
    m_native = native.toBool(true);
    if (m_qr)
        readQrCode(object);
    else
        readBarcode(object);
}

bool CodeOperation::refuse(const QString& reason)
{
    m_error = reason;
    m_symbol = CodeSymbol();
    return false;
}

bool CodeOperation::readQrCode(const QJsonObject& data)
{
    if (m_text.size() > maxQrBytes)
        return refuse(QStringLiteral("\"text\" is longer than %1 bytes").arg(maxQrBytes));
    if (!readInt(data, "size", 1, 16, &m_size))
        return refuse(QStringLiteral("\"size\" must be a whole number from 1 to 16"));
    int level = 1;
    if (!readChoice(data, "errorCorrection", {"L", "M", "Q", "H"}, &level))
        return refuse(QStringLiteral("\"errorCorrection\" must be \"L\", \"M\", \"Q\" or \"H\""));
    m_level = "LMQH"[level];
    QString error;
    m_symbol = CodeSymbol::qrCode(m_text, m_level, &error);
    return m_symbol.isNull() ? refuse(error) : true;
}

bool CodeOperation::readBarcode(const QJsonObject& data)
{
    const QJsonValue typeName = data.value(QLatin1String("type"));
    if (typeName.isUndefined())
        return refuse(QStringLiteral("\"type\" is missing"));
    const BarcodeType* type = nullptr;
    for (const BarcodeType& candidate : barcodeTypes) {
        if (typeName.toString() == QLatin1String(candidate.name))
            type = &candidate;
    }
    if (!type)
        return refuse(QStringLiteral("unknown \"type\" %1 (CODE128, EAN13, EAN8, UPCA, CODE39 or ITF)")
                          .arg(typeName.isString() ? '"' + typeName.toString() + '"' : QStringLiteral("value")));
    if (!readInt(data, "height", 1, 255, &m_height))
        return refuse(QStringLiteral("\"height\" must be a whole number from 1 to 255"));
    if (!readInt(data, "width", 2, 6, &m_moduleWidth))
        return refuse(QStringLiteral("\"width\" must be a whole number from 2 to 6"));
    int hri = CodeSymbol::HriBelow;
    if (!readChoice(data, "hri", {"none", "above", "below", "both"}, &hri))
        return refuse(QStringLiteral("\"hri\" must be \"none\", \"above\", \"below\" or \"both\""));
    m_hri = CodeSymbol::Hri(hri);

    switch (type->type) {
    case CodeSymbol::Ean13:
        if (!readDigits("EAN13", 12))
            return false;
        break;
    case CodeSymbol::Ean8:
        if (!readDigits("EAN8", 7))
            return false;
        break;
    case CodeSymbol::UpcA:
        if (!readDigits("UPCA", 11))
            return false;
        break;
    case CodeSymbol::Code39: {
        const int bad = firstOutside(m_text, code39Characters);
        if (bad >= 0)
            return refuse(QStringLiteral("CODE39 cannot carry %1 (only 0-9, A-Z, space and - . $ / + %)")
                              .arg(shownFirst(m_text.mid(bad))));
        break;
    }
    case CodeSymbol::Itf:
        if (!allDigits(m_text))
            return refuse(QStringLiteral("ITF carries digits only"));
        if (m_text.size() % 2 != 0)
            return refuse(QStringLiteral("ITF needs an even number of digits"));
        break;
    case CodeSymbol::Code128:
        for (int i = 0; i < m_text.size(); ++i) {
            if (uchar(m_text.at(i)) < 0x20 || uchar(m_text.at(i)) > 0x7E)
                return refuse(QStringLiteral("CODE128 carries printable ASCII characters only, not %1")
                                  .arg(shownFirst(m_text.mid(i))));
        }
        break;
    case CodeSymbol::QrCode:
        break;
    }
    QString error;
    m_symbol = CodeSymbol::barcode(type->type, m_text, &error, CodeSymbol::code128Set(m_text));
    if (m_symbol.isNull())
        return refuse(QStringLiteral("%1: %2").arg(QLatin1String(type->name), error));
    if (barcodeData().size() > 255) // the command's length is one byte
        return refuse(QStringLiteral("\"text\" is too long for %1").arg(QLatin1String(type->name)));
    return true;
}

// length digits and the check digit, which is computed when it is left out.
bool CodeOperation::readDigits(const char* name, int length)
{
    if (!allDigits(m_text) || (m_text.size() != length && m_text.size() != length + 1))
        return refuse(QStringLiteral("%1 needs %2 or %3 digits (the last one the check digit)")
                          .arg(QLatin1String(name))
                          .arg(length)
                          .arg(length + 1));
    const char check = checkDigit(m_text.left(length));
    if (m_text.size() == length)
        m_text.append(check);
    else if (m_text.at(length) != check)
        return refuse(QStringLiteral("wrong check digit: %1 ends in %2, the check digit is %3")
                          .arg(QString::fromLatin1(m_text))
                          .arg(QLatin1Char(m_text.at(length)))
                          .arg(QLatin1Char(check)));
    return true;
}

char CodeOperation::checkDigit(const QByteArray& digits)
{
    // From the right: weights 3, 1, 3, 1, ...
    int sum = 0;
    for (int i = 0; i < digits.size(); ++i)
        sum += (digits.at(digits.size() - 1 - i) - '0') * (i % 2 == 0 ? 3 : 1);
    return char('0' + (10 - sum % 10) % 10);
}

QByteArray CodeOperation::commands() const
{
    QByteArray out;
    if (m_qr) {
        const int stored = m_text.size() + 3;
        appendCommand(out, {0x1D, 0x28, 0x6B, 0x04, 0x00, 0x31, 0x41, 0x32, 0x00});   // GS ( k 165: QR model 2
        appendCommand(out, {0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x43, char(m_size)}); // GS ( k 167: module size
        // GS ( k 169: error correction, 48 L to 51 H
        appendCommand(out,
                      {0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x45, char(0x30 + QByteArray("LMQH").indexOf(m_level))});
        // GS ( k 180: store the data
        appendCommand(out, {0x1D, 0x28, 0x6B, char(stored & 0xFF), char(stored >> 8), 0x31, 0x50, 0x30});
        out.append(m_text);
        appendCommand(out, {0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x51, 0x30}); // GS ( k 181: print the symbol
        return out;
    }
    appendCommand(out, {0x1D, 0x68, char(m_height)});      // GS h n: bar height in dots
    appendCommand(out, {0x1D, 0x77, char(m_moduleWidth)}); // GS w n: module width
    appendCommand(out, {0x1D, 0x48, char(m_hri)});         // GS H n: text none, above, below, both
    const QByteArray data = barcodeData();
    // GS k m n d1...dn: print a barcode, the form with a length byte
    appendCommand(out, {0x1D, 0x6B, commandType(m_symbol.type()), char(data.size())});
    out.append(data);
    return out;
}

QByteArray CodeOperation::barcodeData() const
{
    if (m_symbol.type() != CodeSymbol::Code128)
        return m_text;
    // One code set for the whole symbol: C packs two digits in a character; in B a "{" is doubled.
    if (CodeSymbol::code128Set(m_text) == CodeSymbol::SetB)
        return "{B" + QByteArray(m_text).replace("{", "{{");
    QByteArray data("{C");
    for (int i = 0; i < m_text.size(); i += 2)
        data.append(char((m_text.at(i) - '0') * 10 + m_text.at(i + 1) - '0'));
    return data;
}

QImage CodeOperation::picture() const
{
    return m_qr ? m_symbol.qrPicture(m_size, qrQuietZone) : m_symbol.barcodePicture(m_moduleWidth, m_height, m_hri);
}

int CodeOperation::width(bool asImage) const
{
    return m_qr ? m_symbol.qrWidth(m_size, asImage ? qrQuietZone : 0) : m_symbol.barcodeWidth(m_moduleWidth, m_hri);
}

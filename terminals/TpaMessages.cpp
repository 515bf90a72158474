#include "TpaMessages.h"

#include <algorithm>

namespace TpaMessages {

namespace {

QString amountDigits(const QString& amount)
{
    QString digits = amount;
    return digits.remove(QLatin1Char('.')).remove(QLatin1Char(','));
}

QString dateTimeDigits(const QString& dateTime)
{
    QString digits = dateTime;
    return digits.remove(QLatin1Char(':')).remove(QLatin1Char(' ')).remove(QLatin1Char('-'));
}

// ASCII digits only: other scripts' digits mean nothing to a terminal.
bool isDigits(const QString& text)
{
    return std::all_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

} // namespace

QByteArray normaliseAmount(const QString& amount)
{
    return amountDigits(amount).rightJustified(8, QLatin1Char('0')).toUtf8();
}

QByteArray normaliseDateTime(const QString& dateTime)
{
    return dateTimeDigits(dateTime).toUtf8();
}

bool isValidAmount(const QString& amount)
{
    const QString digits = amountDigits(amount);
    return !digits.isEmpty() && digits.size() <= 8 && isDigits(digits);
}

bool isValidDateTime(const QString& dateTime)
{
    const QString digits = dateTimeDigits(dateTime);
    return digits.size() == 14 && isDigits(digits);
}

bool isValidReference(const QString& reference)
{
    return !reference.isEmpty() && reference.size() <= 32 &&
           std::all_of(reference.cbegin(), reference.cend(),
                       [](QChar c) { return c >= QLatin1Char(' ') && c <= QLatin1Char('~'); });
}

// Fields are written together; the comments split them: code, then the
// command's parameters, as the terminals document them.

QByteArray open(int type)
{
    switch (type) {
    case 1:
        return QByteArrayLiteral("P001001333049782"); // P001 00 1 333 04 9782
    case 2:
        return QByteArrayLiteral("S00010000011"); // S000 10 000 0 1 1: twelve characters
    }
    return {};
}

QByteArray close(int type)
{
    switch (type) {
    case 1:
        return QByteArrayLiteral("P042101333049782"); // P042 1 0 1 333 04 9782
    case 2:
        return QByteArrayLiteral("S00110000011"); // S001 10 000 0 1 1
    }
    return {};
}

QByteArray purchase(int type, const QString& amount)
{
    switch (type) {
    case 1:
        // P051 00 1 333 04 9782, amount
        return QByteArrayLiteral("P051001333049782") + normaliseAmount(amount);
    case 2: {
        // Length 11, then four empty tags the terminal fills in its answer:
        // 9F1C (terminal id), 9A (date), 9F21 (time), 9F02 (amount).
        static const char tags[] = {'\x0B', '\x9F', '\x1C', '\x00', '\x9A', '\x00',
                                    '\x9F', '\x21', '\x00', '\x9F', '\x02', '\x00'};
        // C000 10 0000, amount, 000 0 1 0 0 0, tags
        return QByteArrayLiteral("C000100000") + normaliseAmount(amount) + QByteArrayLiteral("00001000") +
               QByteArray(tags, sizeof(tags));
    }
    }
    return {};
}

QByteArray refund(int type, const QString& reference, const QString& dateTime, const QString& amount)
{
    switch (type) {
    case 1:
        // P061 00 1 333 02 9782, amount, reference, date-time
        return QByteArrayLiteral("P061001333029782") + normaliseAmount(amount) + reference.toUtf8() +
               normaliseDateTime(dateTime);
    case 2:
        // C002 10 0000, amount, reference, date-time, 1 1 0
        return QByteArrayLiteral("C002100000") + normaliseAmount(amount) + reference.toUtf8() +
               normaliseDateTime(dateTime) + QByteArrayLiteral("110");
    }
    return {};
}

QByteArray openMenu(int type)
{
    return type == 1 ? QByteArrayLiteral("M00500") : QByteArray();
}

QByteArray reprintLastReceipt(int type)
{
    return type == 1 ? QByteArrayLiteral("M00505") : QByteArray();
}

} // namespace TpaMessages

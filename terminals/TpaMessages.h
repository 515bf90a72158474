#pragma once

#include <QByteArray>
#include <QString>

// The command messages of both terminal families, before framing. Type 1 is
// Ingenico, type 2 Newnote; an empty message means the type has no such command.
namespace TpaMessages {

// "12.50" -> "00001250": separators removed, left-padded with zeros to 8 digits (cents).
QByteArray normaliseAmount(const QString& amount);
// "2024-03-01 14:05:09" -> "20240301140509".
QByteArray normaliseDateTime(const QString& dateTime);

// What the terminals' fixed-width fields can carry, checked before a command is built:
// an amount of 1 to 8 digits once normalised (9 would overflow the field), a date-time
// of 14 digits once normalised, a reference of 1 to 32 printable ASCII characters (a
// control byte such as ETX would end the frame early).
bool isValidAmount(const QString& amount);
bool isValidDateTime(const QString& dateTime);
bool isValidReference(const QString& reference);

QByteArray open(int type);
QByteArray close(int type);
QByteArray purchase(int type, const QString& amount);
QByteArray refund(int type, const QString& reference, const QString& dateTime, const QString& amount);
QByteArray openMenu(int type);
QByteArray reprintLastReceipt(int type);

} // namespace TpaMessages

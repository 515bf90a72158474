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

QByteArray open(int type);
QByteArray close(int type);
QByteArray purchase(int type, const QString& amount);
QByteArray refund(int type, const QString& reference, const QString& dateTime, const QString& amount);
QByteArray openMenu(int type);
QByteArray reprintLastReceipt(int type);

} // namespace TpaMessages

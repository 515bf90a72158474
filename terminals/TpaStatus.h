#pragma once

#include <QString>

// Every status string that the terminal side produces: result code, "|",
// message code, "|", text. Texts are what the web application matches on;
// they stay exactly as they are, Portuguese ones included.
namespace TpaStatus {

// Answers of the web API when it hands a command over.
inline const QString OpenSent = QStringLiteral("QLK0000|M00|TPA open command sent");
inline const QString CloseSent = QStringLiteral("QLK0000|M00|TPA close command sent");
inline const QString PurchaseSent = QStringLiteral("QLK0000|M00|TPA purchase command sent");
inline const QString RefundSent = QStringLiteral("QLK0000|M00|TPA refund command sent");
inline const QString MenuOpenSent = QStringLiteral("QLK0000|M00|TPA menu open command sent");
inline const QString ReprintSent = QStringLiteral("QLK0000|M00|TPA reprint last receipt command sent");

// The worker accepted a command ("command added successfully").
inline const QString CommandAdded = QStringLiteral("QLK0000|M00|Comando adicionado com sucesso");
// Another caller's command is in progress.
inline const QString Busy = QStringLiteral("QLK1001|M10|TPA already busy");
// The worker refused a command: one is already being processed.
inline const QString CommandRefused = QStringLiteral("QLK1001|M10|Já existe um comando a ser processado");
inline const QString NotFound = QStringLiteral("QLK1001|M21|TPA not found");
inline const QString Offline = QStringLiteral("QLK1001|M22|TPA offline or in error state");
// A command field the terminal cannot carry; nothing was sent.
inline const QString InvalidCaller = QStringLiteral("QLK1001|M23|Invalid caller");
inline const QString InvalidAmount = QStringLiteral("QLK1001|M23|Invalid amount");
inline const QString InvalidReference = QStringLiteral("QLK1001|M23|Invalid reference");
inline const QString InvalidDateTime = QStringLiteral("QLK1001|M23|Invalid date-time");
inline const QString StatusNotFound = QStringLiteral("QLK1001|M98|TPA status not found");
// No answer in time, the serial port timed out three times, or the port is gone.
inline const QString Timeout = QStringLiteral("QLK1001|M99|Operation Timeout");

// The timeout family, as the web API tests for it.
inline const QString TimeoutPrefix = QStringLiteral("QLK1001|M99");

inline bool isTimeout(const QString& status)
{
    return status.startsWith(TimeoutPrefix);
}

} // namespace TpaStatus

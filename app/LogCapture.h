#pragma once

#include <QString>
#include <QtGlobal>

class PrintClient;
class QDateTime;

// Captures debug, critical and fatal messages into PrintClient::debugMessages
// for the Logs page (only with "DebugModeOn"). Newest line first, 100 at most.
class LogCapture
{
public:
    static constexpr int maxLines = 100;

    // Remembers the client and installs logMessageHandler as the message handler.
    static void install(PrintClient* client);
    static void uninstall();

    static void logMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

    // The line as captured; the second form (with the source position) is also
    // the one written to standard error.
    static QString formatLine(const QDateTime& when, const QMessageLogContext& context, const QString& message);
};

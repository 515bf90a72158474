#pragma once

#include <QString>

class PrintClient;

// What a headless start prints: where the service answers, where the settings
// and the certificate live, and the security key. The key goes only to a
// terminal that the user reads; under the service manager the output lands in
// the journal, where keys never belong, so it says where the key is kept.
class HeadlessReport
{
public:
    static QString text(const PrintClient& client, const QString& settingsFile, bool showKey);
    // Prints the text to standard output, with the key when that is a terminal.
    static void print(const PrintClient& client);
};

#include "app/HeadlessReport.h"

#include "app/PrivateFiles.h"
#include "core/InstallationCertificate.h"
#include "core/PrintClient.h"
#include "http/HttpListener.h"

#include <QDir>
#include <QSettings>

#include <cstdio>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool standardOutputIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(STDOUT_FILENO) == 1;
#endif
}

} // namespace

QString HeadlessReport::text(const PrintClient& client, const QString& settingsFile, bool showKey)
{
    QStringList lines;
    const HttpListener* listener = client.listener();
    if (!client.licenseAccepted())
        lines << QStringLiteral("Not serving: the terms of use are not accepted; open Quorva Link on a desktop once.");
    else if (!client.serverActive())
        lines << QStringLiteral("Not serving: the service is switched off (serverActive=false in the settings).");
    else if (listener && listener->isListening())
        lines << QStringLiteral("Serving https://localhost:%1").arg(listener->serverPort());
    else if (listener && !listener->tlsError().isEmpty())
        lines << QStringLiteral("Not serving: no usable TLS certificate (%1); trying again.").arg(listener->tlsError());
    else
        lines << QStringLiteral("Not serving yet: the port is taken; trying again.");
    lines << QStringLiteral("Settings: %1").arg(QDir::toNativeSeparators(settingsFile));
    lines << QStringLiteral("Certificate: %1 (quorva-link --trust-certificate makes this user's browsers trust it)")
                 .arg(QDir::toNativeSeparators(InstallationCertificate(PrivateFiles::folder()).certFile()));
    lines << (showKey ? QStringLiteral("Security key: %1").arg(client.securityKey())
                      : QStringLiteral("Security key: the value of securityKey in the settings file"));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void HeadlessReport::print(const PrintClient& client)
{
    const QString report = text(client, QSettings().fileName(), standardOutputIsTerminal());
    std::fputs(report.toLocal8Bit().constData(), stdout);
    // The service manager's journal gets the lines now, not when a buffer fills.
    std::fflush(stdout);
}

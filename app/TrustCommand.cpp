#include "app/TrustCommand.h"

#include "core/CertificateTrust.h"
#include "core/ServerTls.h"

#include <QStringList>

#include <cstdio>

namespace {

// One place or failure a line.
QString report(bool trust, const CertificateTrust::Result& result)
{
    QString text;
    for (const QString& place : result.oldAuthorities)
        text += QStringLiteral("Removed the authority of older versions from: ") + place + '\n';
    for (const QString& place : result.places)
        text += (trust ? QStringLiteral("Trusted in: ") : QStringLiteral("Removed from: ")) + place + '\n';
    if (!trust && result.places.isEmpty() && result.failures.isEmpty())
        text += QStringLiteral("Nothing to remove: the certificate is in no certificate database.\n");
    for (const QString& failure : result.failures)
        text += QStringLiteral("Failed: ") + failure + '\n';
    return text;
}

} // namespace

int TrustCommand::run(bool trust)
{
    CertificateTrust::Result result;
    if (trust) {
        const ServerTls::TrustReport step = ServerTls().trust();
        if (!step.deployerCertFile.isEmpty()) {
            std::fprintf(stdout,
                         "The server presents the deployer's certificate %s, which browsers trust through its "
                         "authority: nothing to do.\n",
                         qPrintable(step.deployerCertFile));
            return 0;
        }
        if (!step.error.isEmpty()) {
            std::fprintf(stderr, "Failed: %s\n", qPrintable(step.error));
            return 1;
        }
        std::fprintf(stdout, "Certificate: %s\n", qPrintable(step.certFile));
        result = step.result;
    } else {
        result = CertificateTrust().untrust();
    }
    std::fputs(report(trust, result).toLocal8Bit().constData(), stdout);
    return result.ok() ? 0 : 1;
}

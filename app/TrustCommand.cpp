#include "app/TrustCommand.h"

#include "app/PrivateFiles.h"
#include "core/CertificateTrust.h"
#include "core/InstallationCertificate.h"

#include <QStringList>

#include <cstdio>

namespace {

// One place or failure a line.
QString report(bool trust, const QStringList& places, const QStringList& failures)
{
    QString text;
    for (const QString& place : places)
        text += (trust ? QStringLiteral("Trusted in: ") : QStringLiteral("Removed from: ")) + place + '\n';
    if (places.isEmpty() && failures.isEmpty())
        text += QStringLiteral("Not found in any certificate database.\n");
    for (const QString& failure : failures)
        text += QStringLiteral("Failed: ") + failure + '\n';
    return text;
}

} // namespace

int TrustCommand::run(bool trust)
{
    CertificateTrust::Result result;
    if (trust) {
        // A first start may not have happened yet: the certificate is made here then.
        InstallationCertificate certificate(PrivateFiles::folder());
        if (certificate.ensure() == InstallationCertificate::Outcome::Failed) {
            std::fprintf(stderr, "Failed: %s\n", qPrintable(certificate.errorString()));
            return 1;
        }
        std::fprintf(stdout, "Certificate: %s\n", qPrintable(certificate.certFile()));
        result = CertificateTrust().trust(certificate.certificate());
    } else {
        result = CertificateTrust().untrust();
    }
    std::fputs(report(trust, result.places, result.failures).toLocal8Bit().constData(), stdout);
    return result.ok() ? 0 : 1;
}

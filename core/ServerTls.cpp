#include "core/ServerTls.h"

#include "app/PrivateFiles.h"
#include "core/InstallationCertificate.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

ServerTls::ServerTls()
{
#if defined(QLK_TLS_KEY) && defined(QLK_TLS_CERT)
    setDeployerFiles(QStringLiteral(QLK_TLS_KEY), QStringLiteral(QLK_TLS_CERT));
#endif
}

void ServerTls::setDeployerFiles(const QString& keyFile, const QString& certFile)
{
    const QDir programDir(QCoreApplication::applicationDirPath());
    m_deployerKey = keyFile.isEmpty() ? QString() : programDir.absoluteFilePath(keyFile);
    m_deployerCert = certFile.isEmpty() ? QString() : programDir.absoluteFilePath(certFile);
}

QString ServerTls::folder() const
{
    return m_folder.isEmpty() ? PrivateFiles::folder() : m_folder;
}

QString ServerTls::deployerCertFile() const
{
    const bool served =
        !m_deployerKey.isEmpty() && QFileInfo(m_deployerKey).isReadable() && QFileInfo(m_deployerCert).isReadable();
    return served ? m_deployerCert : QString();
}

QPair<QString, QString> ServerTls::files() const
{
    if (!deployerCertFile().isEmpty())
        return {m_deployerKey, m_deployerCert};
    if (!m_deployerKey.isEmpty())
        qCritical("ServerTls: cannot read %s or %s, serving the installation's own certificate",
                  qPrintable(m_deployerKey), qPrintable(m_deployerCert));
    InstallationCertificate certificate(folder());
    switch (certificate.ensure()) {
    case InstallationCertificate::Outcome::Failed:
        qCritical("ServerTls: no TLS certificate: %s", qPrintable(certificate.errorString()));
        break;
    case InstallationCertificate::Outcome::Created:
    case InstallationCertificate::Outcome::Renewed: {
        // Browsers that trusted the old certificate go on working with the new
        // one; also when the old file was lost (deleted) rather than renewed.
        const CertificateTrust::Result result = CertificateTrust().replace(certificate.certificate());
        qDebug("ServerTls: made the TLS certificate %s; %s%s%s", qPrintable(certificate.certFile()),
               qPrintable(result.places.isEmpty()
                              ? QStringLiteral("no browser trusted the earlier one")
                              : QStringLiteral("trusted again in: ") + result.places.join(QStringLiteral(", "))),
               result.ok() ? "" : "; failed: ", qPrintable(result.failures.join(QStringLiteral("; "))));
        break;
    }
    case InstallationCertificate::Outcome::Kept:
        break;
    }
    return {certificate.keyFile(), certificate.certFile()};
}

ServerTls::TrustReport ServerTls::trust(const QString& home) const
{
    TrustReport report;
    // Browsers trust a deployer's certificate through its own authority.
    report.deployerCertFile = deployerCertFile();
    if (!report.deployerCertFile.isEmpty())
        return report;
    // A first start may not have happened yet: the certificate is made here then.
    InstallationCertificate certificate(folder());
    if (certificate.ensure() == InstallationCertificate::Outcome::Failed) {
        report.error = certificate.errorString();
        return report;
    }
    report.certFile = certificate.certFile();
    report.result = CertificateTrust(home).trust(certificate.certificate());
    return report;
}

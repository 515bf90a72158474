#include "core/PrintClientThreaded.h"

#include "api/PrintClientRequestHandler.h"
#include "app/PrivateFiles.h"
#include "core/CertificateTrust.h"
#include "core/InstallationCertificate.h"
#include "http/HttpListener.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QNetworkInterface>
#include <QSettings>

PrintClientThreaded::PrintClientThreaded(QObject* parent)
    : QObject(parent)
{
#if defined(QLK_TLS_KEY) && defined(QLK_TLS_CERT)
    setDeployerTls(QStringLiteral(QLK_TLS_KEY), QStringLiteral(QLK_TLS_CERT));
#endif
}

void PrintClientThreaded::setDeployerTls(const QString& keyFile, const QString& certFile)
{
    // A relative path is where an installer put the files: beside the program.
    const QDir programDir(QCoreApplication::applicationDirPath());
    m_deployerKey = keyFile.isEmpty() ? QString() : programDir.absoluteFilePath(keyFile);
    m_deployerCert = certFile.isEmpty() ? QString() : programDir.absoluteFilePath(certFile);
}

QPair<QString, QString> PrintClientThreaded::tlsFiles() const
{
    if (!m_deployerKey.isEmpty()) {
        if (QFileInfo(m_deployerKey).isReadable() && QFileInfo(m_deployerCert).isReadable())
            return {m_deployerKey, m_deployerCert};
        qCritical("PrintClientThreaded: cannot read %s or %s, serving the installation's own certificate",
                  qPrintable(m_deployerKey), qPrintable(m_deployerCert));
    }
    InstallationCertificate certificate(m_certificateFolder.isEmpty() ? PrivateFiles::folder() : m_certificateFolder);
    switch (certificate.ensure()) {
    case InstallationCertificate::Outcome::Failed:
        qCritical("PrintClientThreaded: no TLS certificate: %s", qPrintable(certificate.errorString()));
        break;
    case InstallationCertificate::Outcome::Created:
        qDebug("PrintClientThreaded: made the TLS certificate %s", qPrintable(certificate.certFile()));
        break;
    case InstallationCertificate::Outcome::Renewed: {
        // Browsers that trusted the old certificate go on working with the new one.
        const CertificateTrust::Result result = CertificateTrust().replace(certificate.certificate());
        qDebug("PrintClientThreaded: renewed the TLS certificate; trusted again in: %s%s%s",
               qPrintable(result.places.join(QStringLiteral(", "))),
               result.ok() ? "" : "; failed: ", qPrintable(result.failures.join(QStringLiteral("; "))));
        break;
    }
    case InstallationCertificate::Outcome::Kept:
        break;
    }
    return {certificate.keyFile(), certificate.certFile()};
}

void PrintClientThreaded::getIPAddresses()
{
    QList<QHostAddress> addresses;
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (!address.isLoopback() && address.protocol() == QAbstractSocket::IPv4Protocol)
            addresses.append(address);
    }
    emit onGetAddresses(addresses);
}

void PrintClientThreaded::getPrinters()
{
    emit onGetPrinters(QPrinterInfo::availablePrinters());
}

void PrintClientThreaded::getTpas()
{
    emit onGetTpas(SerialPortDescription::availablePorts());
}

void PrintClientThreaded::getServer(bool online, PrintClientRequestHandler* requestHandler)
{
    {
        // Rewritten at every start so hand edits of the store cannot weaken the server.
        const QPair<QString, QString> tls = tlsFiles();
        QSettings settings;
        settings.beginGroup(QStringLiteral("listener"));
        settings.setValue(QStringLiteral("sslKeyFile"), tls.first);
        settings.setValue(QStringLiteral("sslCertFile"), tls.second);
        settings.setValue(QStringLiteral("port"), int(m_port));
        settings.setValue(QStringLiteral("minThreads"), 4);
        settings.setValue(QStringLiteral("maxThreads"), 20);
        settings.setValue(QStringLiteral("cleanupInterval"), 60000);
        settings.setValue(QStringLiteral("readTimeout"), 60000);
        settings.setValue(QStringLiteral("maxRequestSize"), 4194304);
        settings.setValue(QStringLiteral("maxMultiPartSize"), 10000000);
        settings.endGroup();
        settings.sync();
    }

    // The listener reads its settings from this object for its whole life.
    auto* listenerSettings = new QSettings(this);
    listenerSettings->beginGroup(QStringLiteral("listener"));
    auto* listener = new HttpListener(listenerSettings, requestHandler, this);
    if (!online)
        listener->close();
    emit onGetServer(listener);
}

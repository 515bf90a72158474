#pragma once

#include "core/CertificateTrust.h"

#include <QPair>
#include <QString>

// The key and certificate the HTTPS server presents: a deployer's own (the
// build's QLK_TLS_KEY and QLK_TLS_CERT) while both files can be read, else this
// installation's own, made or renewed when needed. Also the trust step of the
// command line and of the About overlay, for the certificate that is served.
class ServerTls
{
public:
    ServerTls();

    // A deployer's key and certificate chain; a relative path is taken from the
    // program's folder, where an installer put the files.
    void setDeployerFiles(const QString& keyFile, const QString& certFile);
    // Where the installation's key and certificate live (PrivateFiles::folder()).
    void setFolder(const QString& folder) { m_folder = folder; }
    QString folder() const;

    // The deployer's chain while it is the one served; empty otherwise.
    QString deployerCertFile() const;

    // The key and certificate files for the server. The installation's are made
    // or renewed here, and a new certificate takes the place of the one trusted
    // in this user's browsers. A failure is logged and the paths are returned
    // all the same: the server does not listen on files it cannot use.
    QPair<QString, QString> files() const;

    struct TrustReport
    {
        QString deployerCertFile; // served instead: nothing was done
        QString certFile;         // the certificate trusted
        QString error;            // it could not be made
        CertificateTrust::Result result;
    };
    // This installation's certificate (made first when missing) trusted in the
    // browsers of home (empty: the user's).
    TrustReport trust(const QString& home = QString()) const;

private:
    QString m_deployerKey;
    QString m_deployerCert;
    QString m_folder;
};

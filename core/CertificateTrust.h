#pragma once

#include <QSslCertificate>
#include <QString>
#include <QStringList>

// Makes this user's browsers trust the installation's certificate as the
// server certificate it is, never as an authority, and without administrator
// rights. Linux: certutil (libnss3-tools) with trust "P,," in ~/.pki/nssdb
// (Chromium, Chrome; created when missing) and in every Firefox profile found.
// Windows: the current user's Root store, where Windows asks the user to confirm.
class CertificateTrust
{
public:
    struct Result
    {
        QStringList places;   // where the step was done
        QStringList failures; // "place: reason"
        bool ok() const { return failures.isEmpty(); }
    };

    // The databases are looked for under this home folder (Linux).
    explicit CertificateTrust(const QString& home = QString());

    Result trust(const QSslCertificate& certificate);
    Result untrust();
    // After a renewal: the new certificate takes the old one's place wherever
    // that one was trusted, and only there.
    Result replace(const QSslCertificate& certificate);

    // The name under which the certificate is kept in the databases.
    static QString nickname();

private:
    enum class Mode { Trust, Untrust, Replace };
    Result apply(Mode mode, const QSslCertificate& certificate);

    QString m_home;
};

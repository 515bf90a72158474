#pragma once

#include <QSslCertificate>
#include <QString>
#include <QStringList>

// Makes this user's browsers trust the installation's certificate, without
// administrator rights, in a way that trusts nothing else: the certificate may
// not sign others (CA:FALSE, no keyCertSign), and every verifier below refuses
// what its key would sign. Linux: certutil (libnss3-tools) into ~/.pki/nssdb
// (Chromium, Chrome; created when missing) as a trusted peer ("P,,"), and into
// every Firefox profile found as a trusted peer that is also its own anchor
// ("CP,,": Firefox ignores the peer flag and trusts anchors only). Windows: the current user's
// Root store, where Windows asks the user to confirm.
//
// Trusting and untrusting also remove the authority that older builds shared
// (one key in every copy of the program, O=Quorva CN=localhost, CA:TRUE) which
// their instructions had users import, as "quorva-link" or under any name.
class CertificateTrust
{
public:
    struct Result
    {
        QStringList places;         // where the step was done
        QStringList oldAuthorities; // where the older builds' authority was removed
        QStringList failures;       // "place: reason"
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

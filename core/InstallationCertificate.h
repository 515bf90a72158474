#pragma once

#include <QDateTime>
#include <QSslCertificate>
#include <QString>
#include <QStringList>

// The HTTPS server's own key and certificate, made on this computer for this
// installation: an EC P-256 key and a self-signed certificate that may not sign
// others (CA:FALSE), for server authentication only, naming localhost,
// 127.0.0.1, ::1 and the host name, valid 825 days. Nobody else has the key, so
// trusting the certificate in a browser trusts nothing but this server.
class InstallationCertificate
{
public:
    static constexpr int validityDays = 825;
    // Renewed at start when fewer days than this remain.
    static constexpr int renewalDays = 30;

    enum class Outcome { Kept, Created, Renewed, Failed };

    // The files live in this folder (PrivateFiles::folder() in the program).
    explicit InstallationCertificate(const QString& folder);

    QString folder() const { return m_folder; }
    QString keyFile() const;
    QString certFile() const;

    // Makes a new key and certificate when the files are missing, unreadable or
    // do not belong together, when the certificate is not yet valid, or when it
    // ends within renewalDays of now. Safe against another process doing the same.
    Outcome ensure(const QDateTime& now = QDateTime::currentDateTimeUtc());
    QString errorString() const { return m_error; }

    // The certificate in the file (null when there is none).
    QSslCertificate certificate() const;
    // After a renewal: the certificate that was replaced.
    QSslCertificate previous() const { return m_previous; }

    // The names the certificate is made for.
    static QStringList dnsNames();
    static QStringList ipAddresses();

private:
    bool isUsable(const QDateTime& now) const;
    bool create(const QDateTime& now);

    QString m_folder;
    QString m_error;
    QSslCertificate m_previous;
};

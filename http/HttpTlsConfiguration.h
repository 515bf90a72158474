#pragma once

#include <QDateTime>
#include <QSslConfiguration>
#include <QString>

#include <mutex>

// The key and certificate chain the server presents, read from their PEM files
// and read again for the next connection when the files change (a certificate
// made or renewed while the server runs). Files that cannot be used (missing,
// unreadable, no certificate, no key, a key of another certificate) are
// refused: at load() the server does not listen; later, while new files are
// being written or are broken, the last usable ones go on being served. Safe
// on any thread.
class HttpTlsConfiguration
{
public:
    HttpTlsConfiguration(const QString& keyFile, const QString& certFile);

    // Reads the files; false, with errorString(), when they cannot be used.
    bool load();
    QString errorString() const;

    // For a new connection: the files as they are now, or the last usable ones.
    QSslConfiguration current();

private:
    // What tells a rewritten file from the one read: size and time of each.
    struct Stamp
    {
        qint64 keySize = -1, certSize = -1;
        QDateTime keyTime, certTime;
        bool operator==(const Stamp& other) const
        {
            return keySize == other.keySize && certSize == other.certSize && keyTime == other.keyTime &&
                   certTime == other.certTime;
        }
    };
    Stamp stamp() const;
    bool read(QSslConfiguration* configuration, QString* error) const;

    const QString m_keyFile;
    const QString m_certFile;
    mutable std::mutex m_mutex; // standard, so that the thread sanitizer sees it
    QSslConfiguration m_configuration;
    QString m_error;
    Stamp m_loaded; // the files served now
    Stamp m_tried;  // the files last read, usable or not
};

#include "http/HttpTlsConfiguration.h"

#include <QFile>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslKey>
#include <QtDebug>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

namespace {

bool readFile(const QString& path, QByteArray* content, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    // Far more than any key or chain; a wrong path must not fill the memory.
    *content = file.read(1 << 20);
    return true;
}

// Whether the private key is the one of the certificate: Qt does not tell
// before a handshake fails.
bool belongTogether(const QByteArray& certPem, const QByteArray& keyPem)
{
    const std::unique_ptr<BIO, decltype(&BIO_free)> certBio(BIO_new_mem_buf(certPem.constData(), certPem.size()),
                                                            &BIO_free);
    const std::unique_ptr<BIO, decltype(&BIO_free)> keyBio(BIO_new_mem_buf(keyPem.constData(), keyPem.size()),
                                                           &BIO_free);
    if (!certBio || !keyBio)
        return false;
    const std::unique_ptr<X509, decltype(&X509_free)> certificate(
        PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr), &X509_free);
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr), &EVP_PKEY_free);
    return certificate && key && X509_check_private_key(certificate.get(), key.get()) == 1;
}

} // namespace

HttpTlsConfiguration::HttpTlsConfiguration(const QString& keyFile, const QString& certFile)
    : m_keyFile(keyFile)
    , m_certFile(certFile)
{}

bool HttpTlsConfiguration::load()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tried = stamp();
    m_error.clear();
    QSslConfiguration configuration;
    if (!read(&configuration, &m_error))
        return false;
    m_configuration = configuration;
    m_loaded = m_tried;
    return true;
}

QString HttpTlsConfiguration::errorString() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

QSslConfiguration HttpTlsConfiguration::current()
{
    const Stamp now = stamp();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!(now == m_loaded) && !(now == m_tried)) {
        m_tried = now;
        QSslConfiguration configuration;
        QString error;
        if (read(&configuration, &error)) {
            m_configuration = configuration;
            m_loaded = now;
            qDebug("HttpTlsConfiguration: serving the changed certificate %s", qPrintable(m_certFile));
        } else {
            // Critical: the Logs page shows it (also, briefly, between the writing of a key and of its certificate).
            qCritical("HttpTlsConfiguration: the changed files cannot be used (%s); serving the earlier ones",
                      qPrintable(error));
        }
    }
    return m_configuration;
}

HttpTlsConfiguration::Stamp HttpTlsConfiguration::stamp() const
{
    const QFileInfo key(m_keyFile);
    const QFileInfo cert(m_certFile);
    Stamp stamp;
    stamp.keySize = key.exists() ? key.size() : -1;
    stamp.certSize = cert.exists() ? cert.size() : -1;
    stamp.keyTime = key.lastModified();
    stamp.certTime = cert.lastModified();
    return stamp;
}

bool HttpTlsConfiguration::read(QSslConfiguration* configuration, QString* error) const
{
    // The key first: when both are missing, a folder where the key should be
    // or a key the user may not read is the cause to name.
    QByteArray keyPem, certPem;
    if (!readFile(m_keyFile, &keyPem, error) || !readFile(m_certFile, &certPem, error))
        return false;
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certPem, QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull()) {
        *error = QStringLiteral("no certificate in %1").arg(m_certFile);
        return false;
    }
    // The installation's own key is EC; a deployer's may be RSA.
    QSslKey key(keyPem, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey);
    if (key.isNull())
        key = QSslKey(keyPem, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey);
    if (key.isNull()) {
        *error = QStringLiteral("no private key in %1").arg(m_keyFile);
        return false;
    }
    if (!belongTogether(certPem, keyPem)) {
        *error = QStringLiteral("the key %1 is not the one of the certificate %2").arg(m_keyFile, m_certFile);
        return false;
    }
    *configuration = QSslConfiguration();
    configuration->setLocalCertificateChain(chain);
    configuration->setPrivateKey(key);
    // Clients are never asked for a certificate.
    configuration->setPeerVerifyMode(QSslSocket::VerifyNone);
    // Whatever the system's TLS library would still allow: nothing older than 1.2.
    configuration->setProtocol(QSsl::TlsV1_2OrLater);
    return true;
}

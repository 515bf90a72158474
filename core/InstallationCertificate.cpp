#include "core/InstallationCertificate.h"

#include "app/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QRegularExpression>
#include <QSysInfo>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter
{
    void operator()(T* p) const { Free(p); }
};
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using KeyContext = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Extension = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;
using BigNumber = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(1 << 20) : QByteArray();
}

Bio memoryBio(const QByteArray& data)
{
    return Bio(BIO_new_mem_buf(data.constData(), data.size()));
}

QByteArray bioBytes(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, int(size));
}

Key newKey()
{
    KeyContext context(EVP_PKEY_CTX_new_id(EVP_PKEY_EC, nullptr));
    EVP_PKEY* key = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) <= 0 ||
        EVP_PKEY_CTX_set_ec_paramgen_curve_nid(context.get(), NID_X9_62_prime256v1) <= 0 ||
        EVP_PKEY_keygen(context.get(), &key) <= 0)
        return Key();
    return Key(key);
}

bool addExtension(X509* certificate, int nid, const QByteArray& value)
{
    X509V3_CTX context;
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    Extension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.constData()));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

// A random positive 128-bit serial: two certificates of one issuer name never
// share a serial, which Firefox would refuse.
bool setRandomSerial(X509* certificate)
{
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        return false;
    bytes[0] &= 0x7F;
    bytes[0] |= 0x40;
    BigNumber number(BN_bin2bn(bytes, sizeof bytes, nullptr));
    return number && BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate));
}

bool setName(X509_NAME* name)
{
    const auto add = [name](const char* field, const char* value) {
        return X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(value), -1,
                                          -1, 0) == 1;
    };
    return add("O", "Quorva") && add("CN", "Quorva Link");
}

} // namespace

InstallationCertificate::InstallationCertificate(const QString& folder)
    : m_folder(folder)
{}

QString InstallationCertificate::keyFile() const
{
    return QDir(m_folder).filePath(QStringLiteral("QuorvaLink.key"));
}

QString InstallationCertificate::certFile() const
{
    return QDir(m_folder).filePath(QStringLiteral("QuorvaLink.crt"));
}

QSslCertificate InstallationCertificate::certificate() const
{
    return QSslCertificate(readFile(certFile()), QSsl::Pem);
}

QStringList InstallationCertificate::dnsNames()
{
    QStringList names{QStringLiteral("localhost")};
    // Only a name that DNS could carry; "localhost" is there already.
    static const QRegularExpression hostName(
        QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]{0,62})(\\.[A-Za-z0-9-]{1,63})*$"));
    const QString host = QSysInfo::machineHostName();
    if (hostName.match(host).hasMatch() && host.compare(names.first(), Qt::CaseInsensitive) != 0)
        names.append(host);
    return names;
}

QStringList InstallationCertificate::ipAddresses()
{
    return {QStringLiteral("127.0.0.1"), QStringLiteral("::1")};
}

InstallationCertificate::Outcome InstallationCertificate::ensure(const QDateTime& now)
{
    m_error.clear();
    m_previous = QSslCertificate();
    if (!PrivateFiles::restrictFolder(m_folder)) {
        m_error = QStringLiteral("cannot create the folder %1").arg(m_folder);
        return Outcome::Failed;
    }
    // The program and a --trust-certificate run may start together.
    QLockFile lock(QDir(m_folder).filePath(QStringLiteral("QuorvaLink-tls.lock")));
    lock.setStaleLockTime(30000);
    if (!lock.tryLock(10000)) {
        m_error = QStringLiteral("the certificate is locked by another process");
        return Outcome::Failed;
    }
    if (isUsable(now)) {
        // Files made by hand or by an older version may be readable by others.
        PrivateFiles::restrictFile(keyFile());
        return Outcome::Kept;
    }
    const QSslCertificate old = certificate();
    if (!create(now))
        return Outcome::Failed;
    m_previous = old;
    return old.isNull() ? Outcome::Created : Outcome::Renewed;
}

bool InstallationCertificate::isUsable(const QDateTime& now) const
{
    const QByteArray certPem = readFile(certFile());
    const QByteArray keyPem = readFile(keyFile());
    if (certPem.isEmpty() || keyPem.isEmpty())
        return false;
    Bio certBio = memoryBio(certPem);
    Bio keyBio = memoryBio(keyPem);
    const Certificate certificate(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    const Key key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    if (!certificate || !key || X509_check_private_key(certificate.get(), key.get()) != 1)
        return false;
    const time_t renewAt = time_t(now.addDays(renewalDays).toSecsSinceEpoch());
    const time_t validAt = time_t(now.toSecsSinceEpoch());
    time_t at = renewAt;
    if (X509_cmp_time(X509_get0_notAfter(certificate.get()), &at) <= 0)
        return false;
    at = validAt;
    return X509_cmp_time(X509_get0_notBefore(certificate.get()), &at) < 0;
}

bool InstallationCertificate::create(const QDateTime& now)
{
    const Key key = newKey();
    const Certificate certificate(X509_new());
    if (!key || !certificate) {
        m_error = QStringLiteral("cannot make a key");
        return false;
    }
    X509* x = certificate.get();
    // An hour back for clocks that differ a little; 825 days in all.
    const qint64 notBefore = now.toSecsSinceEpoch() - 3600;
    const qint64 notAfter = notBefore + qint64(validityDays) * 86400;
    QStringList names;
    for (const QString& name : dnsNames())
        names.append(QStringLiteral("DNS:") + name);
    for (const QString& address : ipAddresses())
        names.append(QStringLiteral("IP:") + address);
    const bool made =
        X509_set_version(x, 2) == 1 && setRandomSerial(x) && ASN1_TIME_set(X509_getm_notBefore(x), time_t(notBefore)) &&
        ASN1_TIME_set(X509_getm_notAfter(x), time_t(notAfter)) && setName(X509_get_subject_name(x)) &&
        X509_set_issuer_name(x, X509_get_subject_name(x)) == 1 && X509_set_pubkey(x, key.get()) == 1 &&
        addExtension(x, NID_basic_constraints, "critical,CA:FALSE") &&
        addExtension(x, NID_key_usage, "critical,digitalSignature") &&
        addExtension(x, NID_ext_key_usage, "serverAuth") && addExtension(x, NID_subject_key_identifier, "hash") &&
        addExtension(x, NID_subject_alt_name, names.join(QLatin1Char(',')).toLatin1()) &&
        X509_sign(x, key.get(), EVP_sha256()) > 0;
    Bio keyBio(BIO_new(BIO_s_mem()));
    Bio certBio(BIO_new(BIO_s_mem()));
    if (!made || !keyBio || !certBio ||
        PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        PEM_write_bio_X509(certBio.get(), x) != 1) {
        m_error = QStringLiteral("cannot make a certificate");
        return false;
    }
    // The key first: a certificate without its key would be thrown away at the next start.
    QString error;
    if (!PrivateFiles::write(keyFile(), bioBytes(keyBio.get()), &error) ||
        !PrivateFiles::write(certFile(), bioBytes(certBio.get()), &error)) {
        m_error = QStringLiteral("cannot write %1: %2").arg(m_folder, error);
        return false;
    }
    return true;
}

#include "core/CertificateTrust.h"

#ifdef Q_OS_WIN
#include <windows.h>
// after windows.h, which it needs
#include <wincrypt.h>
#else
#include "app/PrivateFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#endif

CertificateTrust::CertificateTrust(const QString& home)
    : m_home(home)
{}

QString CertificateTrust::nickname()
{
    return QStringLiteral("Quorva Link");
}

CertificateTrust::Result CertificateTrust::trust(const QSslCertificate& certificate)
{
    return apply(Mode::Trust, certificate);
}

CertificateTrust::Result CertificateTrust::untrust()
{
    return apply(Mode::Untrust, QSslCertificate());
}

CertificateTrust::Result CertificateTrust::replace(const QSslCertificate& certificate)
{
    return apply(Mode::Replace, certificate);
}

#ifdef Q_OS_WIN

CertificateTrust::Result CertificateTrust::apply(Mode mode, const QSslCertificate& certificate)
{
    const QString place = QStringLiteral("Windows (current user, Root)");
    Result result;
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (!store) {
        result.failures.append(place + QStringLiteral(": cannot open the store (%1)").arg(GetLastError()));
        return result;
    }
    // Ours are found by their subject; a renewal leaves only the newest.
    const std::wstring subject = nickname().toStdWString();
    bool found = false;
    bool removed = true;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W, subject.c_str(),
                                                 context))) {
        found = true;
        removed = CertDeleteCertificateFromStore(CertDuplicateCertificateContext(context)) && removed;
    }
    bool ok = removed;
    if (ok && (mode == Mode::Trust || (mode == Mode::Replace && found))) {
        const QByteArray der = certificate.toDer();
        ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.constData()),
                                              DWORD(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    }
    if (ok && (mode != Mode::Replace || found))
        result.places.append(place);
    else if (!ok)
        result.failures.append(place + QStringLiteral(": refused or failed (%1)").arg(GetLastError()));
    CertCloseStore(store, 0);
    return result;
}

#else

namespace {

struct Run
{
    bool ok = false;
    QString error;
};

Run certutil(const QStringList& arguments, const QByteArray& input = QByteArray())
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("certutil"));
    if (program.isEmpty())
        return {false, QStringLiteral("certutil is missing (Debian package libnss3-tools)")};
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return {false, process.errorString()};
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(1000);
        return {false, QStringLiteral("certutil did not finish")};
    }
    const bool ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return {ok, QString::fromLocal8Bit(process.readAll()).trimmed()};
}

QStringList database(const QString& folder)
{
    return {QStringLiteral("-d"), QStringLiteral("sql:") + folder};
}

bool holds(const QString& folder)
{
    return certutil(database(folder) +
                    QStringList{QStringLiteral("-L"), QStringLiteral("-n"), CertificateTrust::nickname()})
        .ok;
}

// Removes every certificate of ours from the database (an older one may be left
// by a renewal that could not reach it).
Run remove(const QString& folder)
{
    for (int i = 0; i < 20 && holds(folder); ++i) {
        const Run run = certutil(database(folder) +
                                 QStringList{QStringLiteral("-D"), QStringLiteral("-n"), CertificateTrust::nickname()});
        if (!run.ok)
            return run;
    }
    return {!holds(folder), QString()};
}

Run add(const QString& folder, const QSslCertificate& certificate)
{
    // "P,,": a trusted peer for TLS, not an authority for anything.
    return certutil(database(folder) + QStringList{QStringLiteral("-A"), QStringLiteral("-t"), QStringLiteral("P,,"),
                                                   QStringLiteral("-n"), CertificateTrust::nickname(),
                                                   QStringLiteral("-a")},
                    certificate.toPem());
}

Run createUserDatabase(const QString& folder)
{
    if (QFileInfo::exists(QDir(folder).filePath(QStringLiteral("cert9.db"))))
        return {true, QString()};
    if (!PrivateFiles::restrictFolder(folder))
        return {false, QStringLiteral("cannot create the folder")};
    return certutil(database(folder) + QStringList{QStringLiteral("-N"), QStringLiteral("--empty-password")});
}

// The user's NSS database and the Firefox profiles that have one.
QStringList databases(const QString& home)
{
    QStringList folders{QDir(home).filePath(QStringLiteral(".pki/nssdb"))};
    for (const QString& root :
         {QStringLiteral(".mozilla/firefox"), QStringLiteral("snap/firefox/common/.mozilla/firefox")}) {
        const QDir profiles(QDir(home).filePath(root));
        for (const QString& profile : profiles.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            if (QFileInfo::exists(profiles.filePath(profile + QStringLiteral("/cert9.db"))))
                folders.append(profiles.filePath(profile));
        }
    }
    return folders;
}

} // namespace

CertificateTrust::Result CertificateTrust::apply(Mode mode, const QSslCertificate& certificate)
{
    Result result;
    const QString home = m_home.isEmpty() ? QDir::homePath() : m_home;
    const QStringList folders = databases(home);
    for (const QString& folder : folders) {
        const bool userDatabase = folder == folders.first();
        const bool exists = QFileInfo::exists(QDir(folder).filePath(QStringLiteral("cert9.db")));
        Run run{true, QString()};
        if (mode == Mode::Trust) {
            if (userDatabase)
                run = createUserDatabase(folder);
            if (run.ok)
                run = remove(folder);
            if (run.ok)
                run = add(folder, certificate);
        } else if (!exists || (mode == Mode::Replace && !holds(folder))) {
            continue;
        } else {
            run = remove(folder);
            if (run.ok && mode == Mode::Replace)
                run = add(folder, certificate);
        }
        if (run.ok)
            result.places.append(folder);
        else
            result.failures.append(folder + QStringLiteral(": ") + run.error);
    }
    return result;
}

#endif

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
#include <QRegularExpression>
#include <QSslCertificateExtension>
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
    if (ok && (mode == Mode::Trust || found))
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
    QString output; // what certutil said, or why it did not run
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

bool holds(const QString& folder, const QString& nickname)
{
    return certutil(database(folder) + QStringList{QStringLiteral("-L"), QStringLiteral("-n"), nickname}).ok;
}

// Removes every certificate of that name from the database (an older one of
// ours may be left by a renewal that could not reach it).
Run remove(const QString& folder, const QString& nickname)
{
    for (int i = 0; i < 20 && holds(folder, nickname); ++i) {
        const Run run = certutil(database(folder) + QStringList{QStringLiteral("-D"), QStringLiteral("-n"), nickname});
        if (!run.ok)
            return run;
    }
    return {!holds(folder, nickname), QStringLiteral("cannot remove %1").arg(nickname)};
}

// The names of the database's certificates, from the listing's lines
// "NICKNAME   SSL,S/MIME,JAR trust".
QStringList nicknames(const QString& folder)
{
    static const QRegularExpression entry(QStringLiteral("^(\\S.*?)\\s+[A-Za-z]*,[A-Za-z]*,[A-Za-z]*$"));
    QStringList names;
    for (const QString& line : certutil(database(folder) + QStringList{QStringLiteral("-L")}).output.split('\n')) {
        const QRegularExpressionMatch match = entry.match(line.trimmed());
        if (match.hasMatch() && !names.contains(match.captured(1)))
            names.append(match.captured(1));
    }
    return names;
}

// The authority of older builds: imported as "quorva-link" as their README said,
// or under a name of the browser's through its import dialog.
bool isOldAuthority(const QString& folder, const QString& nickname)
{
    if (nickname == QLatin1String("quorva-link"))
        return true;
    const Run run = certutil(database(folder) + QStringList{QStringLiteral("-L"), QStringLiteral("-n"), nickname,
                                                            QStringLiteral("-a")});
    for (const QSslCertificate& certificate : QSslCertificate::fromData(run.output.toLatin1(), QSsl::Pem)) {
        if (certificate.subjectInfo(QSslCertificate::Organization) != QStringList{QStringLiteral("Quorva")} ||
            certificate.subjectInfo(QSslCertificate::CommonName) != QStringList{QStringLiteral("localhost")})
            continue;
        for (const QSslCertificateExtension& extension : certificate.extensions()) {
            if (extension.name() == QLatin1String("basicConstraints") &&
                extension.value().toMap().value(QStringLiteral("ca")).toBool())
                return true;
        }
    }
    return false;
}

// Takes the older builds' authority out of the database; true when it was there.
Run removeOldAuthorities(const QString& folder, bool* found)
{
    *found = false;
    for (const QString& nickname : nicknames(folder)) {
        if (nickname == CertificateTrust::nickname() || !isOldAuthority(folder, nickname))
            continue;
        *found = true;
        const Run run = remove(folder, nickname);
        if (!run.ok)
            return run;
    }
    return {true, QString()};
}

Run add(const QString& folder, const QSslCertificate& certificate, const QString& trust)
{
    return certutil(database(folder) + QStringList{QStringLiteral("-A"), QStringLiteral("-t"), trust,
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
        // Chromium's own verifier honours the peer flag. Firefox's takes only
        // anchors; an anchor that is CA:FALSE without keyCertSign still cannot
        // vouch for anything its key signs.
        const QString trust = userDatabase ? QStringLiteral("P,,") : QStringLiteral("CP,,");
        if (mode != Mode::Trust && !QFileInfo::exists(QDir(folder).filePath(QStringLiteral("cert9.db"))))
            continue;
        Run run{true, QString()};
        if (mode == Mode::Trust && userDatabase)
            run = createUserDatabase(folder);
        if (run.ok && mode != Mode::Replace) {
            bool found = false;
            run = removeOldAuthorities(folder, &found);
            if (run.ok && found)
                result.oldAuthorities.append(folder);
        }
        // Only where it is: a renewal does not spread it, untrusting reports real removals.
        if (run.ok && mode != Mode::Trust && !holds(folder, nickname()))
            continue;
        if (run.ok)
            run = remove(folder, nickname());
        if (run.ok && mode != Mode::Untrust)
            run = add(folder, certificate, trust);
        if (run.ok)
            result.places.append(folder);
        else
            result.failures.append(folder + QStringLiteral(": ") + run.output);
    }
    return result;
}

#endif

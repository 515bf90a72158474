// The installation's own key and certificate, checked with openssl and NSS's certutil rather than our code.
#include "support/CupsQueue.h" // QLK_REQUIRE_PART
#include "support/TestMain.h"

#include "core/CertificateTrust.h"
#include "core/InstallationCertificate.h"
#include "core/ServerTls.h"
#include "http/HttpTlsConfiguration.h"

#include <QProcess>
#include <QSslKey>
#include <QStandardPaths>

using Outcome = InstallationCertificate::Outcome;
Q_DECLARE_METATYPE(Outcome)

namespace {

// Runs a tool (in directory); its exit code, or -1 when it did not run. Output in *out.
int tool(const QString& program, const QStringList& arguments, QByteArray* out = nullptr, const QString& directory = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(directory);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    if (out)
        *out = process.readAll();
    return process.exitCode();
}

QFile::Permissions modes(const QString& path)
{
    return QFileInfo(path).permissions() & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
}

constexpr QFile::Permissions ownerFile = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions ownerFolder = ownerFile | QFile::ExeOwner;

} // namespace

#define REQUIRE_TOOL(name, package)                                                                                    \
    QLK_REQUIRE_PART(                                                                                                  \
        QStandardPaths::findExecutable(name).isEmpty() ? name " is not installed (Debian package " package ")" : "")

class TestInstallationCertificate : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_folders = 0;

    QString newFolder() { return m_dir.filePath(QStringLiteral("installation-%1").arg(++m_folders)); }

private slots:
    void generated()
    {
        REQUIRE_TOOL("openssl", "openssl");
        InstallationCertificate installation(newFolder());
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QCOMPARE(installation.ensure(now), Outcome::Created);
        const QSslCertificate certificate = installation.certificate();
        QCOMPARE(certificate.effectiveDate().daysTo(certificate.expiryDate()), qint64(825));
        QVERIFY(qAbs(certificate.effectiveDate().secsTo(now) - 3600) < 60);
        // A server certificate for loopback that verifies against itself and signs no other (trustStep forges one).
        const QString cert = installation.certFile();
        QByteArray out;
        QCOMPARE(tool("openssl", {"verify", "-x509_strict", "-purpose", "sslserver", "-CAfile", cert, cert}), 0);
        const QString extensions = "subjectAltName,basicConstraints,keyUsage,extendedKeyUsage";
        QCOMPARE(tool("openssl", {"x509", "-noout", "-ext", extensions, "-in", cert}, &out), 0);
        QVERIFY2(out.contains("DNS:localhost") && out.contains("IP Address:127.0.0.1, IP Address:0:0:0:0:0:0:0:1\n") &&
                     out.contains("critical\n    CA:FALSE") && out.contains("Digital Signature") &&
                     out.contains("TLS Web Server Authentication") && !out.contains("Certificate Sign"),
                 out.constData());
    }

    // What ensure() makes of what a start finds; the folder and the key end up the owner's only.
    void ensure_data()
    {
        QTest::addColumn<int>("daysLater");
        QTest::addColumn<QString>("damage");
        QTest::addColumn<Outcome>("outcome");
        const auto row = [](const char* name, int days, const char* damage, Outcome outcome) {
            QTest::newRow(name) << days << QString(damage) << outcome;
        };
        row("31 days left", 794, "", Outcome::Kept);
        row("under 30 days left", 796, "", Outcome::Renewed);
        row("clock set back before it began", -1, "", Outcome::Renewed);
        row("key garbage", 0, "garbage key", Outcome::Renewed);
        row("key of another installation", 0, "other key", Outcome::Renewed);
        row("certificate missing", 0, "remove crt", Outcome::Created);
        row("key readable by others", 0, "chmod key", Outcome::Kept); // copied by hand, or an older version
    }
    void ensure()
    {
        QFETCH(int, daysLater);
        QFETCH(QString, damage);
        QFETCH(Outcome, outcome);
        const QString folder = newFolder();
        QVERIFY(QDir().mkpath(folder) &&
                QFile::setPermissions(folder, ownerFolder | QFile::ReadOther | QFile::ExeOther));
        InstallationCertificate installation(folder), other(newFolder());
        const QDateTime made = QDateTime::currentDateTimeUtc(), later = made.addDays(daysLater);
        QCOMPARE(installation.ensure(made), Outcome::Created);
        const QSslCertificate original = installation.certificate();
        const QString path = damage.endsWith("crt") ? installation.certFile() : installation.keyFile();
        QFile broken(path);
        if (damage == "chmod key")
            QVERIFY(QFile::setPermissions(path, ownerFile | QFile::ReadGroup | QFile::ReadOther));
        else if (damage == "other key")
            QVERIFY(other.ensure() == Outcome::Created && broken.remove() && QFile::copy(other.keyFile(), path));
        else if (damage == "garbage key") // a cut-off PEM, put together here
            QVERIFY(broken.open(QIODevice::WriteOnly) &&
                    broken.write(QByteArray("-----BEGIN PRIVATE").append(" KEY-----\nxx\n")) > 0);
        else if (!damage.isEmpty())
            QVERIFY(broken.remove());
        broken.close();
        QTEST(installation.ensure(later), "outcome");
        QCOMPARE(modes(folder), ownerFolder);
        QCOMPARE(modes(installation.keyFile()), ownerFile);
        QCOMPARE(installation.certificate() == original, outcome == Outcome::Kept);
        if (outcome == Outcome::Renewed && damage.isEmpty()) {
            // A key and serial of its own: browsers refuse a reused issuer and serial.
            const QSslCertificate renewed = installation.certificate();
            QVERIFY(renewed.publicKey() != original.publicKey() && renewed.serialNumber() != original.serialNumber());
            QVERIFY(installation.previous() == original && renewed.expiryDate() > later.addDays(824));
        }
        QCOMPARE(installation.ensure(later), Outcome::Kept);
    }

    void served_data()
    {
        QTest::addColumn<bool>("present");
        QTest::newRow("deployer's chain") << true;
        QTest::newRow("deployer's files gone") << false;
    }
    // A deployer's chain is served in file order, or the installation's own when the deployer's files are gone.
    void served()
    {
        REQUIRE_TOOL("openssl", "openssl");
        QFETCH(bool, present);
        const QString folder = newFolder(), dir = m_dir.filePath(QStringLiteral("chain-%1").arg(m_folders));
        QVERIFY(QDir().mkpath(dir));
        QList<QSslCertificate> expected; // leaf first
        QString issuer;
        for (const QString name : {"root", "mid", "leaf"}) { // each signed by the one before
            const QString line = "req -x509 -newkey rsa:2048 -nodes -days 30 -keyout " + name + ".key -out " + name +
                                 ".crt -subj /CN=" + name +
                                 (issuer.isEmpty() ? "" : " -CA " + issuer + ".crt -CAkey " + issuer + ".key");
            QVERIFY2(tool("openssl", line.split(' '), nullptr, dir) == 0, qPrintable(line));
            expected.prepend(QSslCertificate::fromPath(dir + "/" + name + ".crt").value(0));
            issuer = name;
        }
        QFile chain(dir + "/chain.pem");
        QVERIFY(chain.open(QIODevice::WriteOnly));
        for (const QSslCertificate& certificate : expected)
            chain.write(certificate.toPem());
        chain.close();
        QVERIFY(present || chain.remove());
        ServerTls server;
        server.setFolder(folder);
        server.setDeployerFiles(dir + "/leaf.key", chain.fileName());
        const auto [keyFile, certFile] = server.files(); // makes the installation's own when needed
        HttpTlsConfiguration tls(keyFile, certFile);
        QVERIFY(tls.load());
        QCOMPARE(tls.current().localCertificateChain(),
                 present ? expected : QList{InstallationCertificate(folder).certificate()});
    }

    // A running server presents a renewed certificate at once, and the last usable one while the files are broken.
    void changedFiles()
    {
        InstallationCertificate installation(newFolder());
        QCOMPARE(installation.ensure(), Outcome::Created);
        HttpTlsConfiguration tls(installation.keyFile(), installation.certFile());
        QVERIFY(tls.load());
        QCOMPARE(installation.ensure(QDateTime::currentDateTimeUtc().addDays(800)), Outcome::Renewed);
        const QSslCertificate renewed = installation.certificate();
        QCOMPARE(tls.current().localCertificate(), renewed);
        QFile key(installation.keyFile());
        QVERIFY(key.open(QIODevice::WriteOnly | QIODevice::Truncate) && key.write("half a key") > 0);
        key.close();
        QVERIFY(tls.current().localCertificate() == renewed && !tls.current().privateKey().isNull());
    }

    // certutil into the NSS databases of the test's HOME: the user's (made when missing) and two Firefox profiles.
    void trustStep()
    {
        REQUIRE_TOOL("certutil", "libnss3-tools");
        REQUIRE_TOOL("openssl", "openssl");
        const QString home = QDir::homePath(), work = m_dir.filePath("trust-files"),
                      ours = CertificateTrust::nickname();
        const QString nssdb = home + "/.pki/nssdb", firefox = home + "/.mozilla/firefox/ab12.default-release",
                      otherProfile = home + "/.mozilla/firefox/cd34.other";
        const QStringList all{nssdb, firefox, otherProfile};
        const auto certutil = [](const QString& db, const QStringList& arguments, QByteArray* out = nullptr) {
            return tool("certutil", arguments + QStringList{"-d", "sql:" + db}, out);
        };
        const auto import = [&](const QString& db, const QString& name, const QString& file,
                                const char* trust = "C,,") {
            QCOMPARE(certutil(db, {"-A", "-n", name, "-t", trust, "-i", work + file}), 0);
        };
        const auto openssl = [&](const QString& line) { QCOMPARE(tool("openssl", line.split(' '), nullptr, work), 0); };
        const auto listing = [&](const QString& db) { // nicknames and their trust flags
            QByteArray out;
            certutil(db, {"-L"}, &out);
            return QString::fromUtf8(out.simplified());
        };
        QVERIFY(QDir().mkpath(work));
        for (const QString& profile : {firefox, otherProfile})
            QVERIFY(QDir().mkpath(profile) && certutil(profile, {"-N", "--empty-password"}) == 0);
        // The authority older builds shipped (CA:TRUE, O=Quorva CN=localhost) goes; someone else's of the same
        // subject (O=Other) stays.
        const QString req = "req -x509 -nodes -days 30 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -addext "
                            "basicConstraints=critical,CA:TRUE ";
        openssl(req + "-keyout old.key -out old.crt -subj /O=Quorva/CN=localhost");
        openssl(req + "-keyout other.key -out other.crt -subj /O=Other/CN=localhost");
        import(firefox, "quorva-link", "/old.crt");
        import(firefox, "Other", "/other.crt");

        InstallationCertificate installation(newFolder());
        QCOMPARE(installation.ensure(), Outcome::Created);
        CertificateTrust trust;
        const CertificateTrust::Result result = trust.trust(installation.certificate());
        QVERIFY2(result.ok() && result.places == all && result.oldAuthorities == QStringList{firefox},
                 qPrintable(result.failures.join('\n')));
        // A trusted peer (in Firefox also its own anchor, as it takes anchors only) that NSS's own verifier accepts,
        // while it refuses a leaf for another name signed by the installation's key.
        openssl("req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout forged.key -out "
                "forged.csr -subj /CN=bank.example -addext subjectAltName=DNS:bank.example");
        openssl("x509 -req -in forged.csr -CA " + installation.certFile() + " -CAkey " + installation.keyFile() +
                " -days 30 -copy_extensions copy -out forged.crt");
        for (const QString& db : all) {
            const QString listed = listing(db);
            import(db, "forged", "/forged.crt", ",,");
            QVERIFY2(listed.contains(ours + (db == nssdb ? " P,," : " CP,,")) && !listed.contains("quorva-link") &&
                         (db != firefox || listed.contains("Other C,,")) &&
                         certutil(db, {"-V", "-u", "V", "-n", ours}) == 0 &&
                         certutil(db, {"-V", "-u", "V", "-n", "forged"}) != 0,
                     qPrintable(db + ": " + listed));
        }
        QCOMPARE(modes(nssdb), ownerFolder);

        import(nssdb, "quorva-link", "/old.crt");
        const CertificateTrust::Result removed = trust.untrust();
        QVERIFY(removed.ok() && removed.places == all && removed.oldAuthorities == QStringList{nssdb});
        QVERIFY(trust.untrust().places.isEmpty() && !listing(nssdb).contains("quorva-link"));
        for (const QString& db : all)
            QVERIFY(!listing(db).contains(ours));

        // A certificate made anew (its file lost) replaces the trusted one; where the user removed it, none is put.
        QVERIFY(trust.trust(installation.certificate()).ok());
        QCOMPARE(certutil(firefox, {"-D", "-n", ours}), 0);
        QVERIFY(QFile::remove(installation.certFile()));
        ServerTls server;
        server.setFolder(QFileInfo(installation.certFile()).absolutePath());
        QCOMPARE(server.files().second, installation.certFile());
        for (const QString& db : all) {
            QByteArray out;
            certutil(db, {"-L", "-n", ours, "-a"}, &out);
            QCOMPARE(QSslCertificate::fromData(out),
                     db == firefox ? QList<QSslCertificate>() : QList{installation.certificate()});
        }
        // A deployer's certificate is served: nothing to trust, nothing touched.
        server.setDeployerFiles(work + "/other.key", work + "/other.crt");
        const ServerTls::TrustReport deployed = server.trust();
        QVERIFY(deployed.deployerCertFile == work + "/other.crt" && deployed.result.places.isEmpty());
    }
};

QLK_TEST_MAIN_CORE(TestInstallationCertificate)
#include "tst_installationcertificate.moc"

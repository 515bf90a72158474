// The installation's own key and certificate, checked with openssl and NSS's certutil rather than our code.
#include "support/HttpTestRig.h"
#include "support/TestMain.h"

#include "api/PrintClientRequestHandler.h"
#include "core/CertificateTrust.h"
#include "core/InstallationCertificate.h"
#include "core/PrintClient.h"
#include "core/PrintClientThreaded.h"
#include "core/ServerTls.h"
#include "http/HttpListener.h"
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
int openssl(const QString& directory, const QString& line, QByteArray* out = nullptr)
{
    return tool("openssl", line.split(' '), out, directory);
}

QFile::Permissions modes(const QString& path)
{
    return QFileInfo(path).permissions() & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
}

constexpr QFile::Permissions ownerFile = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions ownerFolder = ownerFile | QFile::ExeOwner;

} // namespace

// Skips when the tool is missing, and fails so under CI.
#define REQUIRE_TOOL(name, package)                                                                                    \
    if (QStandardPaths::findExecutable(name).isEmpty()) {                                                              \
        QVERIFY2(qEnvironmentVariable("CI") != "true", name " is not installed (Debian package " package ")");         \
        QSKIP(name " is not installed (Debian package " package ")");                                                  \
    }

class TestInstallationCertificate : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_folders = 0;

    QString newFolder() { return m_dir.filePath(QStringLiteral("installation-%1").arg(++m_folders)); }

    // The chain a TLS client gets from a server made by PrintClientThreaded.
    QList<QSslCertificate> servedChain(PrintClientThreaded& worker)
    {
        PrintClientRequestHandler handler;
        HttpListener* listener = nullptr;
        connect(&worker, &PrintClientThreaded::onGetServer, this, [&listener](HttpListener* l) { listener = l; });
        worker.setPort(0);
        worker.getServer(true, &handler);
        if (!listener || !listener->isListening())
            return {};
        // The listener accepts on this thread: the client waits in its event loop.
        QSslSocket socket;
        socket.setPeerVerifyMode(QSslSocket::VerifyNone);
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), listener->serverPort());
        const bool encrypted = QTest::qWaitFor([&] { return socket.isEncrypted(); }, 10000);
        delete listener;
        return encrypted ? socket.peerCertificateChain() : QList<QSslCertificate>();
    }

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
        const auto names = certificate.subjectAlternativeNames();
        QVERIFY(names.values(QSsl::DnsEntry).contains("localhost"));
        QList<QHostAddress> addresses;
        for (const QString& address : names.values(QSsl::IpAddressEntry))
            addresses.append(QHostAddress(address));
        QCOMPARE(addresses.size(), 2);
        QVERIFY(addresses.contains(QHostAddress::LocalHost) && addresses.contains(QHostAddress::LocalHostIPv6));
        QCOMPARE(QSslKey(certificate.publicKey()).algorithm(), QSsl::Ec);
        // A server certificate that verifies against itself and signs no other (trustStep forges one).
        const QString cert = installation.certFile();
        QByteArray out;
        QCOMPARE(openssl({}, "verify -x509_strict -purpose sslserver -CAfile " + cert + " " + cert), 0);
        QCOMPARE(openssl({}, "x509 -noout -ext basicConstraints,keyUsage,extendedKeyUsage -in " + cert, &out), 0);
        QVERIFY2(out.contains("critical\n    CA:FALSE") && out.contains("Digital Signature") &&
                     out.contains("TLS Web Server Authentication") && !out.contains("Certificate Sign"),
                 out.constData());
    }

    // What a start finds (days after the certificate was made, damage), what ensure() makes of it, and that the
    // folder and the key end up the owner's only.
    void ensure_data()
    {
        QTest::addColumn<int>("daysLater");
        QTest::addColumn<QString>("damage");
        QTest::addColumn<Outcome>("outcome");
        const auto row = [](const char* name, int days, const char* damage, Outcome outcome) {
            QTest::newRow(name) << days << QString(damage) << outcome;
        };
        row("next start", 0, "", Outcome::Kept);
        row("31 days left", 794, "", Outcome::Kept);
        row("under 30 days left", 796, "", Outcome::Renewed);
        row("expired", 900, "", Outcome::Renewed);
        row("clock set back before it began", -1, "", Outcome::Renewed);
        row("key missing", 0, "remove key", Outcome::Renewed);
        row("key garbage", 0, "garbage key", Outcome::Renewed);
        row("key of another installation", 0, "other key", Outcome::Renewed);
        row("certificate missing", 0, "remove crt", Outcome::Created);
        row("certificate empty", 0, "empty crt", Outcome::Created);
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
        if (damage == "chmod key")
            QVERIFY(QFile::setPermissions(path, ownerFile | QFile::ReadGroup | QFile::ReadOther));
        else if (!damage.isEmpty())
            QVERIFY(QFile::remove(path));
        if (damage == "other key")
            QVERIFY(other.ensure() == Outcome::Created && QFile::copy(other.keyFile(), path));
        QFile broken(path);
        if (damage == "garbage key" || damage == "empty crt") // a cut-off PEM, put together here
            QVERIFY(broken.open(QIODevice::WriteOnly) &&
                    broken.write(
                        damage == "empty crt" ? "" : QByteArray("-----BEGIN PRIVATE").append(" KEY-----\nxx\n")) >= 0);
        broken.close();
        QTEST(installation.ensure(later), "outcome");
        QCOMPARE(installation.certificate() == original, outcome == Outcome::Kept);
        if (outcome == Outcome::Renewed && damage.isEmpty()) {
            QCOMPARE(installation.previous(), original);
            // A key and serial of its own: browsers refuse a reused issuer and serial.
            QVERIFY(installation.certificate().publicKey() != original.publicKey());
            QVERIFY(installation.certificate().serialNumber() != original.serialNumber());
            QVERIFY(installation.certificate().expiryDate() > later.addDays(824));
        }
        QCOMPARE(installation.ensure(later), Outcome::Kept);
        QCOMPARE(modes(folder), ownerFolder);
        QCOMPARE(modes(installation.keyFile()), ownerFile);
    }

    void served_data()
    {
        QTest::addColumn<bool>("present");
        QTest::newRow("deployer's chain") << true;
        QTest::newRow("deployer's files gone") << false;
    }
    // The listener settings point at what the server is to serve: a deployer's chain (RSA, root > intermediate >
    // leaf) in file order, or the installation's own when the deployer's files are gone.
    void served()
    {
        REQUIRE_TOOL("openssl", "openssl");
        QFETCH(bool, present);
        PrintClientThreaded worker;
        const QString folder = newFolder(), dir = m_dir.filePath(QStringLiteral("chain-%1").arg(m_folders));
        const QString chainFile = dir + "/chain.pem", ca = " -addext basicConstraints=critical,CA:TRUE";
        QVERIFY(QDir().mkpath(dir));
        const QString by = " -days 30 -copy_extensions copy -CAcreateserial -CA ", rsa = "req -newkey rsa:2048 -nodes ";
        for (const QString& line :
             QStringList{rsa + "-x509 -days 30 -keyout root.key -out root.crt -subj /CN=root" + ca,
                         rsa + "-keyout mid.key -out mid.csr -subj /CN=mid" + ca,
                         "x509 -req -in mid.csr -out mid.crt" + by + "root.crt -CAkey root.key",
                         rsa + "-keyout leaf.key -out leaf.csr -subj /CN=leaf -addext subjectAltName=DNS:localhost",
                         "x509 -req -in leaf.csr -out leaf.crt" + by + "mid.crt -CAkey mid.key"})
            QVERIFY2(openssl(dir, line) == 0, qPrintable(line));
        QList<QSslCertificate> expected;
        QFile chain(chainFile);
        QVERIFY(chain.open(QIODevice::WriteOnly));
        for (const char* name : {"leaf", "mid", "root"}) {
            expected += QSslCertificate::fromPath(dir + "/" + name + ".crt");
            chain.write(expected.last().toPem());
        }
        QCOMPARE(expected.size(), 3);
        chain.close();
        if (!present)
            QVERIFY(chain.remove());
        worker.setCertificateFolder(folder);
        worker.setDeployerTls(dir + "/leaf.key", chainFile);
        const QList<QSslCertificate> served = servedChain(worker); // makes the installation's own when needed
        QCOMPARE(served, present ? expected : QList{InstallationCertificate(folder).certificate()});
        QCOMPARE(QSettings().value("listener/sslCertFile").toString(),
                 present ? chainFile : InstallationCertificate(folder).certFile());
    }

    // A running server presents the files as they are now to each new connection:
    // a renewed certificate at once, and the last usable one while they are broken.
    void changedFiles()
    {
        InstallationCertificate installation(newFolder());
        QCOMPARE(installation.ensure(), Outcome::Created);
        const QSslCertificate first = installation.certificate();
        HttpTlsConfiguration tls(installation.keyFile(), installation.certFile());
        QVERIFY(tls.load());
        QCOMPARE(tls.current().localCertificate(), first);
        QCOMPARE(installation.ensure(QDateTime::currentDateTimeUtc().addDays(800)), Outcome::Renewed);
        const QSslCertificate renewed = installation.certificate();
        QVERIFY(renewed != first);
        QCOMPARE(tls.current().localCertificate(), renewed);
        QFile key(installation.keyFile());
        QVERIFY(key.open(QIODevice::WriteOnly | QIODevice::Truncate) && key.write("half a key") > 0);
        key.close();
        QCOMPARE(tls.current().localCertificate(), renewed);
        QVERIFY(!tls.current().privateKey().isNull());
        // Not at start: then the server does not listen at all.
        HttpTlsConfiguration broken(installation.keyFile(), installation.certFile());
        QVERIFY(!broken.load());
        QVERIFY2(broken.errorString().contains("no private key"), qPrintable(broken.errorString()));
    }

    // certutil into the NSS databases of a temporary HOME: the user's (made when
    // missing) and two Firefox profiles; renewal replaces only where trusted.
    void trustStep()
    {
        REQUIRE_TOOL("certutil", "libnss3-tools");
        REQUIRE_TOOL("openssl", "openssl");
        const QString home = m_dir.filePath(QStringLiteral("home")), work = m_dir.filePath("trust-files");
        const QString nssdb = home + "/.pki/nssdb", firefox = home + "/.mozilla/firefox/ab12.default-release",
                      otherProfile = home + "/.mozilla/firefox/cd34.other", ours = CertificateTrust::nickname();
        QVERIFY(QDir().mkpath(work));
        const auto certutil = [](const QString& db, QStringList arguments, QByteArray* out = nullptr) {
            return tool("certutil", arguments + QStringList{"-d", "sql:" + db}, out);
        };
        for (const QString& profile : {firefox, otherProfile})
            QVERIFY(QDir().mkpath(profile) && certutil(profile, {"-N", "--empty-password"}) == 0);
        const auto held = [&](const QString& db) {
            QByteArray out;
            return certutil(db, {"-L", "-n", ours, "-a"}, &out) ? QList<QSslCertificate>()
                                                                : QSslCertificate::fromData(out);
        };
        const auto flags = [&](const QString& db) { // the trust column of the listing
            QByteArray out;
            certutil(db, {"-L"}, &out);
            return QRegularExpression("\n" + QRegularExpression::escape(ours) + " +(\\S+)")
                .match(QString::fromUtf8(out))
                .captured(1);
        };
        const auto verifies = [&](const QString& db, const QString& name) {
            return certutil(db, {"-V", "-u", "V", "-n", name}) == 0;
        };
        const auto import = [&](const QString& db, const QString& name, const QString& file, const char* trust) {
            QCOMPARE(certutil(db, {"-A", "-n", name, "-t", trust, "-i", work + "/" + file}), 0);
        };
        const auto openssl = [&](const QString& line) { QCOMPARE(tool("openssl", line.split(' '), nullptr, work), 0); };
        // The authority older builds shipped (CA:TRUE, O=Quorva CN=localhost) and someone else's, which stays.
        for (const QString& name : {QStringLiteral("old"), QStringLiteral("other")})
            openssl("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + name + ".key -out " +
                    name + ".crt -days 30 -subj /O=" + (name == "old" ? "Quorva" : "Other") +
                    "/CN=localhost -addext basicConstraints=critical,CA:TRUE");
        import(firefox, "quorva-link", "old.crt", "C,,");             // as the old instructions said
        import(otherProfile, "Quorva - localhost", "old.crt", "C,,"); // through the browser's dialog
        import(firefox, "Other authority", "other.crt", "C,,");

        InstallationCertificate installation(newFolder());
        QCOMPARE(installation.ensure(), Outcome::Created);
        CertificateTrust trust(home);
        for (int twice = 0; twice < 2; ++twice) {
            const CertificateTrust::Result result = trust.trust(installation.certificate());
            QVERIFY2(result.ok(), qPrintable(result.failures.join('\n')));
            QCOMPARE(result.places, (QStringList{nssdb, firefox, otherProfile}));
            QCOMPARE(result.oldAuthorities, twice ? QStringList() : (QStringList{firefox, otherProfile}));
        }
        QVERIFY(!verifies(firefox, "quorva-link") && !verifies(otherProfile, "Quorva - localhost"));
        QVERIFY(verifies(firefox, "Other authority"));
        // A leaf for another name signed by the installation's key, next to it in
        // every database: NSS's own verifier must accept ours and refuse the forgery.
        openssl("req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout forged.key -out forged.csr "
                "-subj /CN=bank.example -addext subjectAltName=DNS:bank.example");
        openssl("x509 -req -in forged.csr -CA " + installation.certFile() + " -CAkey " + installation.keyFile() +
                " -days 30 -copy_extensions copy -out forged.crt");
        for (const QString& db : {nssdb, firefox, otherProfile}) {
            QCOMPARE(held(db), QList<QSslCertificate>{installation.certificate()});
            // Chromium honours a trusted peer; Firefox trusts anchors only, and an
            // anchor that is CA:FALSE vouches for nothing its key signs.
            QCOMPARE(flags(db), QString(db == nssdb ? "P,," : "CP,,"));
            QVERIFY2(verifies(db, ours), qPrintable(db));
            import(db, "forged", "forged.crt", ",,");
            QVERIFY2(!verifies(db, "forged"), qPrintable(db));
            QCOMPARE(certutil(db, {"-D", "-n", "forged"}), 0);
        }
        QCOMPARE(modes(nssdb), ownerFolder);

        // The user took it out of one profile; a renewal does not put it back there.
        QCOMPARE(certutil(otherProfile, {"-D", "-n", ours}), 0);
        QCOMPARE(installation.ensure(QDateTime::currentDateTimeUtc().addDays(800)), Outcome::Renewed);
        const CertificateTrust::Result replaced = trust.replace(installation.certificate());
        QVERIFY2(replaced.ok(), qPrintable(replaced.failures.join('\n')));
        QCOMPARE(replaced.places, (QStringList{nssdb, firefox}));
        for (const QString& db : {nssdb, firefox, otherProfile})
            QCOMPARE(held(db), db == otherProfile ? QList<QSslCertificate>() : QList{installation.certificate()});

        import(nssdb, "quorva-link", "old.crt", "C,,");
        const CertificateTrust::Result removed = trust.untrust();
        QVERIFY(removed.ok());
        QCOMPARE(removed.places, (QStringList{nssdb, firefox}));
        QCOMPARE(removed.oldAuthorities, QStringList{nssdb});
        for (const QString& db : {nssdb, firefox, otherProfile})
            QVERIFY(held(db).isEmpty());
        // Once more: nothing was there to remove.
        const CertificateTrust::Result again = trust.untrust();
        QVERIFY(again.ok() && again.places.isEmpty() && again.oldAuthorities.isEmpty());

        // A certificate made anew because its file was lost takes the place of the
        // trusted one, as a renewal does; where none was trusted, none is put.
        QVERIFY(trust.trust(installation.certificate()).ok());
        QCOMPARE(certutil(firefox, {"-D", "-n", ours}), 0);
        const QSslCertificate lost = installation.certificate();
        QVERIFY(QFile::remove(installation.certFile()));
        const QByteArray realHome = qgetenv("HOME");
        qputenv("HOME", home.toLocal8Bit());
        ServerTls server;
        server.setFolder(QFileInfo(installation.certFile()).absolutePath());
        QCOMPARE(server.files().second, installation.certFile());
        const QSslCertificate made = installation.certificate();
        QVERIFY(!made.isNull() && made != lost);
        for (const QString& db : {nssdb, firefox, otherProfile})
            QCOMPARE(held(db), db == firefox ? QList<QSslCertificate>() : QList{made});
        // A deployer's certificate is served: nothing to trust, nothing touched.
        server.setDeployerFiles(work + "/other.key", work + "/other.crt");
        const ServerTls::TrustReport deployed = server.trust(home);
        QCOMPARE(deployed.deployerCertFile, work + "/other.crt");
        QVERIFY(deployed.result.places.isEmpty() && deployed.certFile.isEmpty() && held(firefox).isEmpty());
        QVERIFY(trust.untrust().ok());

        // The About overlay's button: this installation's certificate, this user's home.
        const QString shown = PrintClient().trustCertificate();
        qputenv("HOME", realHome);
        QCOMPARE(shown, QStringLiteral("Certificado de confiança em:\n~/.pki/nssdb\n~/.mozilla/firefox/"
                                       "ab12.default-release\n~/.mozilla/firefox/cd34.other"));
        QCOMPARE(held(nssdb), QList<QSslCertificate>{HttpTestServer::installationCertificate().certificate()});
    }
};

QLK_TEST_MAIN_CORE(TestInstallationCertificate)
#include "tst_installationcertificate.moc"

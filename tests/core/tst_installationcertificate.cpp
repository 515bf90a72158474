// The installation's own key and certificate: what the certificate says and may
// do (checked with the openssl command, independently of our code), renewal,
// broken files, file modes, what the server serves (also a deployer's chain),
// and the trust step in NSS databases of a temporary HOME.
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

QFile::Permissions modes(const QString& path)
{
    return QFileInfo(path).permissions() & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
}

constexpr QFile::Permissions ownerFile = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions ownerFolder = ownerFile | QFile::ExeOwner;

} // namespace

// Skips when the tool is missing, and fails so under CI.
#define REQUIRE_TOOL(name, package)                                                                                    \
    do {                                                                                                               \
        if (QStandardPaths::findExecutable(name).isEmpty()) {                                                          \
            const char* missing = name " is not installed (Debian package " package ")";                               \
            QVERIFY2(qEnvironmentVariable("CI") != QLatin1String("true"), missing);                                    \
            QSKIP(missing);                                                                                            \
        }                                                                                                              \
    } while (false)

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
        // The listener accepts on this thread: the blocking client goes on another.
        QList<QSslCertificate> chain;
        std::unique_ptr<QThread> client(QThread::create([&chain, port = listener->serverPort()] {
            QSslSocket socket;
            socket.setPeerVerifyMode(QSslSocket::VerifyNone);
            socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
            if (socket.waitForEncrypted(10000))
                chain = socket.peerCertificateChain();
        }));
        client->start();
        (void)QTest::qWaitFor([&] { return client->isFinished(); }, 20000);
        client->wait();
        delete listener;
        return chain;
    }

private slots:
    void generated()
    {
        REQUIRE_TOOL("openssl", "openssl");
        InstallationCertificate installation(newFolder()), second(newFolder());
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
        // Each installation has a key of its own.
        QCOMPARE(second.ensure(), Outcome::Created);
        QVERIFY(certificate.publicKey() != second.certificate().publicKey());
        QVERIFY(certificate.serialNumber() != second.certificate().serialNumber());

        // openssl's own reading: a server certificate that verifies against itself and signs no other
        // (NSS's verifier refuses such a forgery in trustStep).
        const QString cert = installation.certFile(), dir = m_dir.path();
        const auto openssl = [&](const QString& line, QByteArray* out = nullptr) {
            return tool("openssl", line.split(' '), out, dir);
        };
        QByteArray out;
        QCOMPARE(openssl("verify -x509_strict -purpose sslserver -CAfile " + cert + " " + cert), 0);
        QCOMPARE(openssl("x509 -noout -ext basicConstraints,keyUsage,extendedKeyUsage -in " + cert, &out), 0);
        QVERIFY2(out.contains("critical\n    CA:FALSE") && out.contains("Digital Signature") &&
                     out.contains("TLS Web Server Authentication") && !out.contains("Certificate Sign"),
                 out.constData());
    }

    void renewal_data()
    {
        QTest::addColumn<int>("daysLater");
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("next start") << 0 << Outcome::Kept;
        QTest::newRow("31 days left") << 794 << Outcome::Kept;
        QTest::newRow("under 30 days left") << 796 << Outcome::Renewed;
        QTest::newRow("expired") << 900 << Outcome::Renewed;
        QTest::newRow("clock set back before it began") << -1 << Outcome::Renewed;
    }
    void renewal()
    {
        QFETCH(int, daysLater);
        QFETCH(Outcome, outcome);
        InstallationCertificate installation(newFolder());
        const QDateTime made = QDateTime::currentDateTimeUtc(), later = made.addDays(daysLater);
        QCOMPARE(installation.ensure(made), Outcome::Created);
        const QSslCertificate original = installation.certificate();
        QCOMPARE(installation.ensure(later), outcome);
        QCOMPARE(installation.certificate() == original, outcome == Outcome::Kept);
        if (outcome == Outcome::Renewed) {
            QCOMPARE(installation.previous(), original);
            QVERIFY(installation.certificate().publicKey() != original.publicKey());
            QVERIFY(installation.certificate().expiryDate() > later.addDays(824));
            QCOMPARE(installation.ensure(later), Outcome::Kept);
        }
    }

    void brokenFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content"); // null: the file is removed
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("key missing") << "key" << QByteArray() << Outcome::Renewed;
        // A cut-off PEM, put together here.
        QTest::newRow("key garbage") << "key" << QByteArray("-----BEGIN PRIVATE").append(" KEY-----\nxx\n")
                                     << Outcome::Renewed;
        QTest::newRow("key of another installation") << "other key" << QByteArray() << Outcome::Renewed;
        QTest::newRow("certificate missing") << "crt" << QByteArray() << Outcome::Created;
        QTest::newRow("certificate empty") << "crt" << QByteArray("") << Outcome::Created;
    }
    void brokenFiles()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        InstallationCertificate installation(newFolder()), other(newFolder());
        QCOMPARE(installation.ensure(), Outcome::Created);
        const QString path = file == "crt" ? installation.certFile() : installation.keyFile();
        QFile::remove(path);
        if (file == "other key") {
            QCOMPARE(other.ensure(), Outcome::Created);
            QVERIFY(QFile::copy(other.keyFile(), path));
        } else if (!content.isNull()) {
            QFile broken(path);
            QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write(content) == content.size());
        }
        QTEST(installation.ensure(), "outcome");
        QCOMPARE(installation.ensure(), Outcome::Kept);
    }

    // Owner only, also a key left readable by others (copied by hand, an older version) at the next start.
    void fileModes()
    {
        const QString folder = newFolder();
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder, ownerFolder | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                  QFile::ExeOther));
        InstallationCertificate installation(folder);
        QCOMPARE(installation.ensure(), Outcome::Created);
        QCOMPARE(modes(folder), ownerFolder);
        QCOMPARE(modes(installation.keyFile()), ownerFile);
        QVERIFY(QFile::setPermissions(installation.keyFile(), ownerFile | QFile::ReadGroup | QFile::ReadOther));
        QCOMPARE(installation.ensure(), Outcome::Kept);
        QCOMPARE(modes(installation.keyFile()), ownerFile);
    }

    void served_data()
    {
        QTest::addColumn<bool>("deployer");
        QTest::addColumn<bool>("deployerFilesPresent");
        QTest::newRow("installation's own") << false << false;
        QTest::newRow("deployer's chain") << true << true;
        QTest::newRow("deployer's files gone") << true << false;
    }
    // The listener settings point at what the server is to serve; a deployer's
    // chain (RSA, root > intermediate > leaf, made with openssl) goes out in file order.
    void served()
    {
        QFETCH(bool, deployer);
        QFETCH(bool, deployerFilesPresent);
        PrintClientThreaded worker;
        const QString folder = newFolder(), dir = m_dir.filePath(QStringLiteral("chain-%1").arg(m_folders));
        const QString chainFile = dir + "/chain.pem";
        worker.setCertificateFolder(folder);
        QList<QSslCertificate> expected;
        if (deployer) {
            REQUIRE_TOOL("openssl", "openssl");
            QVERIFY(QDir().mkpath(dir));
            const auto make = [&](const QString& name, const QString& signer, const QString& extensions) {
                QStringList request{"req",         "-newkey", "rsa:2048",    "-nodes",  "-keyout",
                                    name + ".key", "-subj",   "/CN=" + name, "-addext", extensions};
                request += signer.isEmpty() ? QStringList{"-x509", "-days", "30", "-out", name + ".crt"}
                                            : QStringList{"-out", name + ".csr"};
                QCOMPARE(tool("openssl", request, nullptr, dir), 0);
                if (!signer.isEmpty())
                    QCOMPARE(
                        tool("openssl",
                             {"x509", "-req", "-in", name + ".csr", "-CA", signer + ".crt", "-CAkey", signer + ".key",
                              "-CAcreateserial", "-days", "30", "-copy_extensions", "copy", "-out", name + ".crt"},
                             nullptr, dir),
                        0);
            };
            make("root", {}, "basicConstraints=critical,CA:TRUE");
            make("intermediate", "root", "basicConstraints=critical,CA:TRUE");
            make("leaf", "intermediate", "subjectAltName=DNS:localhost");
            QFile chain(chainFile);
            QVERIFY(chain.open(QIODevice::WriteOnly));
            for (const char* name : {"leaf", "intermediate", "root"}) {
                expected += QSslCertificate::fromPath(dir + "/" + name + ".crt");
                chain.write(expected.last().toPem());
            }
            QCOMPARE(expected.size(), 3);
            chain.close();
            if (!deployerFilesPresent) {
                QVERIFY(chain.remove());
                expected.clear();
            }
            worker.setDeployerTls(dir + "/leaf.key", chainFile);
        }
        const QList<QSslCertificate> chain = servedChain(worker);
        if (expected.isEmpty())
            expected = {InstallationCertificate(folder).certificate()};
        QCOMPARE(chain, expected);
        QCOMPARE(QSettings().value("listener/sslCertFile").toString(),
                 deployerFilesPresent ? chainFile : InstallationCertificate(folder).certFile());
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
            return tool("certutil",
                        arguments << "-d"
                                  << "sql:" + db,
                        out);
        };
        for (const QString& profile : {firefox, otherProfile})
            QVERIFY(QDir().mkpath(profile) && certutil(profile, {"-N", "--empty-password"}) == 0);
        const auto held = [&](const QString& db) {
            QByteArray out;
            return certutil(db, {"-L", "-n", ours, "-a"}, &out) ? QList<QSslCertificate>()
                                                                : QSslCertificate::fromData(out);
        };
        const auto flags = [&](const QString& db) {
            QByteArray out;
            certutil(db, {"-L"}, &out);
            for (const QByteArray& line : out.split('\n'))
                if (line.startsWith(ours.toUtf8()))
                    return line.mid(ours.size()).trimmed();
            return QByteArray();
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
            QCOMPARE(flags(db), QByteArray(db == nssdb ? "P,," : "CP,,"));
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

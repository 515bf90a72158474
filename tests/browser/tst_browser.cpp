// Headless chromium with a HOME of its own against the real program on a free
// port: it refuses the page until `quorva-link --trust-certificate` has run with
// that HOME, then loads it; a page of http://localhost reads the API with the key
// (preflight and Private Network Access included); a page of another origin
// posting, or loading images, with the right key changes nothing, and its wrong
// keys do not shut the web application out.

#include "support/HeadlessBrowser.h"
#include "support/HttpTestRig.h"
#include "support/PageServer.h"
#include "support/ProgramRunner.h"
#include "support/TestMain.h"

#include "core/CertificateTrust.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

namespace {

const QString key = QStringLiteral("Br0wSer1v4.0");

// The page calls the API the way the web application does and writes what it got.
QByteArray appPage(quint16 port)
{
    return QByteArray(R"(<html><body><pre id="out">waiting</pre><script>
const api = "https://localhost:PORT";
async function call(path) {
    const answer = await fetch(api + path, {headers: {Authorization: "Bearer KEY"}});
    return {status: answer.status, body: await answer.json()};
}
(async () => {
    try {
        const status = await call("/getStatus");
        const printers = await call("/getPrinters");
        document.getElementById("out").textContent = JSON.stringify({status, printers});
    } catch (error) {
        document.getElementById("out").textContent = "failed: " + error;
    }
})();
</script></body></html>)")
        .replace("PORT", QByteArray::number(port))
        .replace("KEY", key.toUtf8());
}

// A form post in no-cors mode: the browser sends it without asking first, and
// only hides the answer from the page.
QByteArray postingPage(quint16 port, const QByteArray& title)
{
    return QByteArray(R"(<html><body><pre id="out">waiting</pre><script>
fetch("https://localhost:PORT/setNotificationOrder", {method: "POST", mode: "no-cors",
    headers: {"Content-Type": "application/x-www-form-urlencoded"},
    body: "securityKey=KEY&request_id=7&terminal_id=1&status_id=1&title=TITLE&subtitle=posted"})
    .then(() => { document.getElementById("out").textContent = "sent"; },
          (error) => { document.getElementById("out").textContent = "failed: " + error; });
</script></body></html>)")
        .replace("PORT", QByteArray::number(port))
        .replace("KEY", key.toUtf8())
        .replace("TITLE", title);
}

// Loads that browsers send without an Origin: an image carrying the right key
// in its query, then 25 wrong keys on each of the program's loopback names,
// enough to shut out this computer if they were counted.
QByteArray imagePage(quint16 port)
{
    return QByteArray(R"(<html><body><pre id="out">waiting</pre>
<img src="https://localhost:PORT/setNotificationOrder?securityKey=KEY&request_id=8&terminal_id=1&status_id=1&title=imaged&subtitle=x">
<script>
let done = 0;
for (const host of ["localhost", "127.0.0.1", "[::1]"]) {
    for (let i = 0; i < 25; ++i) {
        const image = new Image();
        image.onload = image.onerror = () => {
            if (++done === 75) document.getElementById("out").textContent = "loaded";
        };
        image.src = `https://${host}:PORT/getStatus?securityKey=wrong${i}`;
    }
}
</script></body></html>)")
        .replace("PORT", QByteArray::number(port))
        .replace("KEY", key.toUtf8());
}

// The text the page left in its <pre>.
QString output(const QString& dom)
{
    const int start = dom.indexOf(QLatin1String("<pre id=\"out\">"));
    const int end = dom.indexOf(QLatin1String("</pre>"), start);
    return start < 0 || end < 0
               ? QString()
               : dom.mid(start + 14, end - start - 14).replace(QLatin1String("&quot;"), QLatin1String("\""));
}

} // namespace

class TestBrowser : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;
    std::unique_ptr<ProgramRunner> m_program;
    std::unique_ptr<HeadlessBrowser> m_browser;
    PageServer m_pages;

    // The API as a native client sees it (no Origin), trusting the program's certificate.
    QJsonObject ask(const QByteArray& target)
    {
        HttpTestClient client(true, m_program->certificates());
        if (!client.connectTo(m_program->port()) ||
            !client.send(HttpTestClient::get(target, "Authorization: Bearer " + key.toUtf8() + "\r\n")))
            return QJsonObject();
        return QJsonDocument::fromJson(client.readResponse().body).object();
    }
    QStringList notificationTitles()
    {
        QStringList titles;
        for (const QJsonValue& record : ask("/getStatus?with_notifications=1").value("notifications").toArray())
            titles.append(record.toObject().value("title").toString());
        return titles;
    }

private slots:
    void initTestCase()
    {
        const bool ci = qEnvironmentVariable("CI") == QLatin1String("true");
        QString missing = HeadlessBrowser::missingReason();
        if (QStandardPaths::findExecutable(QStringLiteral("certutil")).isEmpty())
            missing = QStringLiteral("certutil is not installed (Debian package libnss3-tools)");
        if (!missing.isEmpty()) {
            if (ci)
                QFAIL(qPrintable(missing));
            QSKIP(qPrintable(missing));
        }
        QVERIFY(m_pages.isListening());
        m_program = std::make_unique<ProgramRunner>(m_config.path());
        {
            QSettings settings(m_program->settingsFile(), QSettings::IniFormat);
            settings.setValue(QStringLiteral("securityKey"), key);
            settings.setValue(QStringLiteral("licenseAccepted"), true);
        }
        m_program->start();
        QTRY_VERIFY_WITH_TIMEOUT(!m_program->certificates().isEmpty() && ask("/getStatus").value("status").toBool(),
                                 20000);
        m_browser = std::make_unique<HeadlessBrowser>();
    }
    void cleanupTestCase()
    {
        if (m_program)
            QVERIFY2(m_program->stop(), "no clean exit on SIGTERM");
        m_program.reset();
    }

    // Also makes sure the later loads cannot pass without the trust step.
    void untrustedPageDoesNotLoad()
    {
        const QString dom = m_browser->dom(QStringLiteral("https://localhost:%1/").arg(m_program->port()), 2000);
        QVERIFY2(!dom.contains(QLatin1String("Quorva LINK")), qPrintable(dom.left(500)));
    }

    void trustStep()
    {
        QProcess trust;
        QProcessEnvironment environment = m_program->process().processEnvironment();
        environment.insert(QStringLiteral("HOME"), m_browser->home());
        trust.setProcessEnvironment(environment);
        trust.start(ProgramRunner::programPath(), {QStringLiteral("--trust-certificate")});
        QVERIFY(trust.waitForFinished(60000));
        const QString out = QString::fromLocal8Bit(trust.readAllStandardOutput());
        QVERIFY2(trust.exitCode() == 0, qPrintable(out + trust.readAllStandardError()));
        QVERIFY2(out.contains(QStringLiteral("Trusted in: ") + m_browser->home() + QStringLiteral("/.pki/nssdb")),
                 qPrintable(out));

        const QString dom = m_browser->dom(QStringLiteral("https://localhost:%1/").arg(m_program->port()), 2000);
        QVERIFY2(dom.contains(QLatin1String("Quorva LINK")), qPrintable(dom.left(500) + m_browser->log().right(2000)));
    }

    void pageOfLocalhostReadsTheApi()
    {
        m_pages.setPage(QStringLiteral("/app.html"), appPage(m_program->port()));
        const QString text = output(m_browser->dom(m_pages.url(QStringLiteral("/app.html"))));
        const QJsonObject seen = QJsonDocument::fromJson(text.toUtf8()).object();
        QVERIFY2(!seen.isEmpty(), qPrintable(text));
        QCOMPARE(seen.value("status").toObject().value("status").toInt(), 200);
        QCOMPARE(seen.value("status").toObject().value("body").toObject().value("data").toString(),
                 QStringLiteral("Device online"));
        QCOMPARE(seen.value("printers").toObject().value("status").toInt(), 200);
        QVERIFY(seen.value("printers").toObject().value("body").toObject().value("data").isArray());
    }

    void foreignPageChangesNothing()
    {
        // The same post from the allowed origin is carried out: the way is open.
        m_pages.setPage(QStringLiteral("/own.html"), postingPage(m_program->port(), "own"));
        QCOMPARE(output(m_browser->dom(m_pages.url(QStringLiteral("/own.html")))), QStringLiteral("sent"));
        QTRY_VERIFY_WITH_TIMEOUT(notificationTitles().contains(QStringLiteral("own")), 5000);

        m_pages.setPage(QStringLiteral("/foreign.html"), postingPage(m_program->port(), "forged"));
        const QString url = m_pages.url(QStringLiteral("/foreign.html"), QStringLiteral("127.0.0.1"));
        QCOMPARE(output(m_browser->dom(url)), QStringLiteral("sent"));
        QCOMPARE(notificationTitles(), QStringList{QStringLiteral("own")});
    }

    // A foreign page's images: the keyed one changes nothing, and its wrong keys
    // do not shut the web application out.
    void foreignLoadsChangeNothing()
    {
        m_pages.setPage(QStringLiteral("/images.html"), imagePage(m_program->port()));
        const QString url = m_pages.url(QStringLiteral("/images.html"), QStringLiteral("127.0.0.1"));
        QCOMPARE(output(m_browser->dom(url)), QStringLiteral("loaded"));
        QCOMPARE(notificationTitles(), QStringList{QStringLiteral("own")});
        pageOfLocalhostReadsTheApi();
    }
};

QLK_TEST_MAIN_CORE(TestBrowser)
#include "tst_browser.moc"

// Headless chromium against the real program: pages load only after `--trust-certificate`; a page of http://localhost
// reads the API with the key (preflight, Private Network Access) and posts; foreign pages change and shut out nothing.

#include "support/CupsQueue.h" // QLK_REQUIRE_PART
#include "support/HeadlessBrowser.h"
#include "support/PageServer.h"
#include "support/ProgramRunner.h"
#include "support/TestMain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QByteArray key = "Br0wSer1v4.0";
extern const char apiPage[], imagePage[]; // after the class: moc's reader stops at their raw strings

} // namespace

class TestBrowser : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;
    std::unique_ptr<ProgramRunner> m_program;
    std::unique_ptr<HeadlessBrowser> m_browser;
    PageServer m_pages;

    QStringList notificationTitles()
    {
        QStringList titles;
        for (const QJsonValue& record :
             QJsonDocument::fromJson(m_program->keyedGet("/getStatus?with_notifications=1").body)["notifications"]
                 .toArray())
            titles.append(record.toObject().value("title").toString());
        return titles;
    }
    // The text a page left in its <pre>, served under the name from the host.
    QString load(const QString& name, QByteArray page, const QString& host = QStringLiteral("localhost"))
    {
        page.replace("PORT", QByteArray::number(m_program->port())).replace("KEY", key).replace("TITLE", name.toUtf8());
        m_pages.setPage('/' + name, page);
        const QString dom = m_browser->dom(m_pages.url('/' + name, host));
        const int start = dom.indexOf(QLatin1String("<pre id=\"out\">")), end = dom.indexOf("</pre>", start);
        return start < 0 || end < 0 ? dom : dom.mid(start + 14, end - start - 14).replace("&quot;", "\"");
    }
    // A page of http://localhost reads the API, and its post is carried out.
    void localhostPageReadsAndPosts(const QString& title)
    {
        const QString text = load(title, apiPage);
        const QJsonObject seen = QJsonDocument::fromJson(text.toUtf8()).object();
        QVERIFY2(seen["status"].toInt() == 200 && seen["body"]["data"] == "Device online" && seen["posted"].toBool(),
                 qPrintable(text));
        QTRY_VERIFY_WITH_TIMEOUT(notificationTitles().contains(title), 5000);
    }

private slots:
    void initTestCase()
    {
        QLK_REQUIRE_PART(HeadlessBrowser::program().isEmpty() ? "chromium is not installed (Debian package chromium)"
                         : QStandardPaths::findExecutable("certutil").isEmpty()
                             ? "certutil is not installed (Debian package libnss3-tools)"
                             : "");
        m_program = std::make_unique<ProgramRunner>(m_config.path());
        m_program->configure({{"securityKey", QString(key)}, {"licenseAccepted", true}});
        m_program->start();
        QTRY_COMPARE_WITH_TIMEOUT(m_program->keyedGet("/getStatus").status, 200, 20000);
        m_browser = std::make_unique<HeadlessBrowser>();
    }
    void cleanupTestCase()
    {
        if (m_program)
            QVERIFY2(m_program->stop(), "no clean exit on SIGTERM");
    }

    // Refused before the trust step (so the later loads cannot pass without it), loaded after it.
    void trustStep()
    {
        const QString root = QStringLiteral("https://localhost:%1/").arg(m_program->port());
        QString dom = m_browser->dom(root, 2000);
        QVERIFY2(!dom.contains(QLatin1String("Quorva LINK")), qPrintable(dom.left(500)));
        QProcess trust;
        QProcessEnvironment environment = m_program->process().processEnvironment();
        environment.insert(QStringLiteral("HOME"), m_browser->home());
        trust.setProcessEnvironment(environment);
        trust.start(ProgramRunner::programPath(), {QStringLiteral("--trust-certificate")});
        QVERIFY(trust.waitForFinished(60000));
        QVERIFY2(trust.exitCode() == 0, qPrintable(trust.readAllStandardOutput() + trust.readAllStandardError()));
        dom = m_browser->dom(root, 2000);
        QVERIFY2(dom.contains(QLatin1String("Quorva LINK")), qPrintable(dom.left(500) + m_browser->log().right(2000)));
    }

    // A foreign page's post and images (the right key in one, wrong keys in the rest) change nothing, and the web
    // application is not shut out after them.
    void foreignPagesChangeNothing()
    {
        localhostPageReadsAndPosts("own");
        const QString forged = load("forged", apiPage, "127.0.0.1");
        QVERIFY2(forged.contains("\"posted\":true") && !forged.contains("Device online"), qPrintable(forged));
        QCOMPARE(load("images", imagePage, "127.0.0.1"), QStringLiteral("loaded"));
        QCOMPARE(notificationTitles(), QStringList{QStringLiteral("own")});
        localhostPageReadsAndPosts("again");
    }
};

namespace {

// Reads the API as the web application does, then posts a notification in no-cors mode (sent without asking first,
// only the answer hidden from the page); writes what it got.
const char apiPage[] = R"(<html><body><pre id="out">waiting</pre><script>
const show = (text) => { document.getElementById("out").textContent = text; };
(async () => {
    const seen = await fetch("https://localhost:PORT/getStatus", {headers: {Authorization: "Bearer KEY"}})
        .then(async (answer) => ({status: answer.status, body: await answer.json()}))
        .catch((error) => ({failed: String(error)}));
    await fetch("https://localhost:PORT/setNotificationOrder", {method: "POST", mode: "no-cors",
        headers: {"Content-Type": "application/x-www-form-urlencoded"},
        body: "securityKey=KEY&request_id=7&terminal_id=1&status_id=1&title=TITLE&subtitle=posted"});
    seen.posted = true;
    show(JSON.stringify(seen));
})().catch((error) => show("failed: " + error));
</script></body></html>)";

// Loads sent without an Origin: an image with the right key in its query, then 25 wrong keys on each of the program's
// loopback names, enough to shut out this computer if they were counted.
const char imagePage[] = R"(<html><body><pre id="out">waiting</pre>
<img src="https://localhost:PORT/setNotificationOrder?securityKey=KEY&request_id=8&terminal_id=1&status_id=1&title=imaged&subtitle=x">
<script>
let done = 0;
for (const host of ["localhost", "127.0.0.1", "[::1]"])
    for (let i = 0; i < 25; ++i) {
        const image = new Image();
        image.onload = image.onerror = () => { if (++done === 75) document.getElementById("out").textContent = "loaded"; };
        image.src = `https://${host}:PORT/getStatus?securityKey=wrong${i}`;
    }
</script></body></html>)";

} // namespace

QLK_TEST_MAIN_CORE(TestBrowser)
#include "tst_browser.moc"

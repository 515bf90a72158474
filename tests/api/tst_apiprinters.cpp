// The printer paths end to end: HTTPS request, the handler, a real CUPS raw
// queue and the bytes that reach the loopback printer behind it.
#include "support/ApiServer.h"
#include "support/CapturePrinter.h"
#include "support/TestMain.h"

#include "core/PrintClient.h"
#include "printing/PrintJob.h"
#include "printing/Printer.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

namespace {

QJsonArray receipt()
{
    return QJsonArray{
        QJsonObject{{"op", "alignment"}, {"data", 1}},
        QJsonObject{{"op", "style"}, {"data", QJsonObject{{"emphasized", true}}}},
        QJsonObject{{"op", "text"}, {"data", QStringLiteral("Café Central\nTotal: 12,50 €\n")}},
        QJsonObject{{"op", "cut"}, {"data", "feed"}},
    };
}

// What the job renders to, as the printer must receive it.
QByteArray rendered(const QJsonArray& job)
{
    PrintJob printJob(job, QStringLiteral("unused"), false);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    printJob.render(&buffer);
    return buffer.data();
}

QByteArray encoded(const QString& text)
{
    return QUrl::toPercentEncoding(text);
}

} // namespace

class TestApiPrinters : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void listAndStatus();
    void sendJob_data();
    void sendJob();
    void refused_data();
    void refused();
    void stoppedPrinter();

private:
    std::shared_ptr<Printer> printer(const QString& name) const;
    ApiReply send(bool json, const QString& printerName, const QJsonValue& job) const;

    std::unique_ptr<ApiServer> m_server;
    std::unique_ptr<CapturePrinter> m_enabled;
    std::unique_ptr<CapturePrinter> m_hidden;
};

void TestApiPrinters::initTestCase()
{
    QLK_REQUIRE_CUPS();
    m_enabled = std::make_unique<CapturePrinter>(QStringLiteral("qlk-api"));
    QVERIFY2(m_enabled->isValid(), qPrintable(m_enabled->errorString()));
    m_hidden = std::make_unique<CapturePrinter>(QStringLiteral("qlk-api-hidden"));
    QVERIFY2(m_hidden->isValid(), qPrintable(m_hidden->errorString()));

    m_server = std::make_unique<ApiServer>();
    QVERIFY2(m_server->isValid(), qPrintable(m_server->errorString()));
    // Discovered at start; the periodic discovery would find them within 3 s anyway.
    QTRY_VERIFY_WITH_TIMEOUT(printer(m_enabled->queueName()) && printer(m_hidden->queueName()), 15000);
    // A printer seen for the first time is off until the user switches it on.
    QVERIFY(!printer(m_hidden->queueName())->available());
    printer(m_enabled->queueName())->setAvailable(true);
}

void TestApiPrinters::cleanupTestCase()
{
    m_server.reset();
    m_enabled.reset();
    m_hidden.reset();
}

std::shared_ptr<Printer> TestApiPrinters::printer(const QString& name) const
{
    for (const auto& candidate : m_server->printClient().printerList()) {
        if (candidate->name() == name)
            return candidate;
    }
    return nullptr;
}

ApiReply TestApiPrinters::send(bool json, const QString& printerName, const QJsonValue& job) const
{
    if (json) {
        QJsonObject body{{"printer", printerName}};
        if (!job.isUndefined())
            body.insert(QStringLiteral("job"), job);
        return m_server->client().postJson("/sendJob", body, m_server->bearer());
    }
    QByteArray form = "securityKey=" + encoded(m_server->key()) + "&printer=" + encoded(printerName);
    if (!job.isUndefined())
        form += "&job=" + encoded(job.toString());
    return m_server->client().postForm("/sendJob/", form);
}

void TestApiPrinters::listAndStatus()
{
    const QString name = m_enabled->queueName();
    const ApiReply list = m_server->client().get("/getPrinters", m_server->bearer());
    QCOMPARE(list.json(), (QJsonObject{{"status", true}, {"data", QJsonArray{name}}}));

    struct Case
    {
        QString printer;
        QJsonObject expected;
    };
    const QJsonObject found{{"status", true}, {"data", true}, {"version", "410"}, {"device", "desktop"}};
    const QJsonObject missing{
        {"status", false}, {"error", "Printer not found"}, {"version", "410"}, {"device", "desktop"}};
    const QList<Case> cases = {
        {name, found},
        {name.toUpper(), missing},
        {m_hidden->queueName(), missing},
        {QString(), missing},
    };
    for (const Case& c : cases) {
        const ApiReply reply =
            m_server->client().get("/getPrinterStatus?printer=" + encoded(c.printer), m_server->bearer());
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.json(), c.expected);
    }
}

void TestApiPrinters::sendJob_data()
{
    QTest::addColumn<bool>("json");
    QTest::addColumn<bool>("compatibilityMode");
    QTest::newRow("json") << true << false;
    QTest::newRow("parameters") << false << false;
    QTest::newRow("json, compatibility mode") << true << true;
}

// The printer receives exactly what the job renders to, once.
void TestApiPrinters::sendJob()
{
    QFETCH(bool, json);
    QFETCH(bool, compatibilityMode);

    m_server->printClient().setCompatibilityMode(compatibilityMode);
    const int before = m_enabled->jobs().size();
    const QJsonArray job = receipt();
    const QJsonValue sent = json ? QJsonValue(job) : QJsonValue(QString::fromUtf8(QJsonDocument(job).toJson()));
    const ApiReply reply = send(json, m_enabled->queueName(), sent);
    m_server->printClient().setCompatibilityMode(false);
    QVERIFY2(reply.status, qPrintable(reply.error));
    QCOMPARE(reply.body, QByteArray("{\n    \"data\": \"Job completed successfully\",\n    \"status\": true\n}\n"));

    QVERIFY(m_enabled->waitForJobs(before + 1));
    QByteArray expected = rendered(job);
    if (compatibilityMode) {
        QVERIFY(expected.startsWith("\x1b\x40")); // ESC @: initialise, left out in compatibility mode
        expected.remove(0, 2);
    }
    QCOMPARE(m_enabled->jobs().at(before), expected);
}

void TestApiPrinters::refused_data()
{
    QTest::addColumn<bool>("json");
    QTest::addColumn<QString>("printer");
    QTest::addColumn<QJsonValue>("job");
    QTest::addColumn<QString>("error");

    const QString enabled = m_enabled->queueName();
    const QString jobText = QString::fromUtf8(QJsonDocument(receipt()).toJson());
    QTest::newRow("json, not enabled by the user")
        << true << m_hidden->queueName() << QJsonValue(receipt()) << "Printer not found";
    QTest::newRow("json, name in other case")
        << true << enabled.toUpper() << QJsonValue(receipt()) << "Printer not found";
    QTest::newRow("json, no printer") << true << QString() << QJsonValue(receipt()) << "Printer not found";
    QTest::newRow("json, empty job") << true << enabled << QJsonValue(QJsonArray()) << "Job is empty";
    QTest::newRow("json, job as text") << true << enabled << QJsonValue(jobText) << "Job is empty";
    QTest::newRow("json, no job") << true << enabled << QJsonValue(QJsonValue::Undefined) << "Job is empty";
    QTest::newRow("json, empty job, unknown printer")
        << true << QStringLiteral("nope") << QJsonValue(QJsonArray()) << "Printer not found";
    QTest::newRow("parameters, empty job") << false << enabled << QJsonValue("[]") << "Job is empty";
    QTest::newRow("parameters, not enabled by the user")
        << false << m_hidden->queueName() << QJsonValue(jobText) << "Printer not found";
    QTest::newRow("parameters, object") << false << enabled << QJsonValue("{}") << "Job with incorrect format";
    QTest::newRow("parameters, broken") << false << enabled << QJsonValue("[{") << "Job with incorrect format";
    QTest::newRow("parameters, no job, unknown printer")
        << false << QStringLiteral("nope") << QJsonValue(QJsonValue::Undefined) << "Job with incorrect format";
}

// Refusals print nothing, and the printer checks come before the job's.
void TestApiPrinters::refused()
{
    QFETCH(bool, json);
    QFETCH(QString, printer);
    QFETCH(QJsonValue, job);
    QFETCH(QString, error);

    const int spooled = m_enabled->queue().jobs().size() + m_hidden->queue().jobs().size();
    const ApiReply reply = send(json, printer, job);
    QVERIFY2(reply.status, qPrintable(reply.error));
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.json(), (QJsonObject{{"status", false}, {"error", error}}));
    QCOMPARE(m_enabled->queue().jobs().size() + m_hidden->queue().jobs().size(), spooled);
}

// A queue stopped in the spooler reports false and refuses jobs before their
// content is looked at.
void TestApiPrinters::stoppedPrinter()
{
    QVERIFY(m_enabled->queue().disable());
    const ApiReply status =
        m_server->client().get("/getPrinterStatus?printer=" + encoded(m_enabled->queueName()), m_server->bearer());
    const ApiReply empty = send(true, m_enabled->queueName(), QJsonArray());
    const ApiReply full = send(false, m_enabled->queueName(), QString::fromUtf8(QJsonDocument(receipt()).toJson()));
    QVERIFY(m_enabled->queue().enable());

    QCOMPARE(status.json().value(QStringLiteral("status")), QJsonValue(true));
    QCOMPARE(status.json().value(QStringLiteral("data")), QJsonValue(false));
    const QJsonObject offline{{"status", false}, {"error", "Printer offline or in error state"}};
    QCOMPARE(empty.json(), offline);
    QCOMPARE(full.json(), offline);
}

QLK_TEST_MAIN_CORE(TestApiPrinters)
#include "tst_apiprinters.moc"

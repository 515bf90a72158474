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
    void initTestCase()
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

    void cleanupTestCase()
    {
        m_server.reset();
        m_enabled.reset();
        m_hidden.reset();
    }

    void listAndStatus()
    {
        const QString name = m_enabled->queueName();
        QCOMPARE(m_server->client().get("/getPrinters", m_server->bearer()).json(),
                 (QJsonObject{{"status", true}, {"data", QJsonArray{name}}}));
        for (const QString& asked : {name, name.toUpper(), m_hidden->queueName()}) {
            const QJsonObject status =
                m_server->client().get("/getPrinterStatus?printer=" + encoded(asked), m_server->bearer()).json();
            QJsonObject expected{
                {"status", false}, {"error", "Printer not found"}, {"version", "410"}, {"device", "desktop"}};
            if (asked == name)
                expected = QJsonObject{{"status", true}, {"data", true}, {"version", "410"}, {"device", "desktop"}};
            QCOMPARE(status, expected);
        }
    }

    void sendJob_data()
    {
        QTest::addColumn<bool>("json");
        QTest::addColumn<QString>("printer");
        QTest::addColumn<QJsonValue>("job");
        QTest::addColumn<QString>("error"); // empty: printed

        const QString on = m_enabled->queueName();
        const QString text = QString::fromUtf8(QJsonDocument(receipt()).toJson());
        QTest::newRow("json") << true << on << QJsonValue(receipt()) << QString();
        QTest::newRow("parameters") << false << on << QJsonValue(text) << QString();
        // The printer checks come before the job's in JSON mode, after parsing in parameter mode.
        QTest::newRow("json, not enabled by the user")
            << true << m_hidden->queueName() << QJsonValue(receipt()) << "Printer not found";
        QTest::newRow("json, name in other case")
            << true << on.toUpper() << QJsonValue(receipt()) << "Printer not found";
        QTest::newRow("json, empty job, unknown printer")
            << true << QStringLiteral("nope") << QJsonValue(QJsonArray()) << "Printer not found";
        QTest::newRow("json, empty job") << true << on << QJsonValue(QJsonArray()) << "Job is empty";
        QTest::newRow("json, job as text") << true << on << QJsonValue(text) << "Job is empty";
        QTest::newRow("parameters, empty job") << false << on << QJsonValue("[]") << "Job is empty";
        QTest::newRow("parameters, object") << false << on << QJsonValue("{}") << "Job with incorrect format";
        QTest::newRow("parameters, broken") << false << on << QJsonValue("[{") << "Job with incorrect format";
        QTest::newRow("parameters, no job, unknown printer")
            << false << QStringLiteral("nope") << QJsonValue(QJsonValue::Undefined) << "Job with incorrect format";
    }

    // The printer receives exactly what the job renders to, once; refusals print nothing.
    void sendJob()
    {
        QFETCH(bool, json);
        QFETCH(QString, printer);
        QFETCH(QJsonValue, job);
        QFETCH(QString, error);

        const int spooled = m_enabled->queue().jobs().size() + m_hidden->queue().jobs().size();
        const int before = m_enabled->jobs().size();
        const ApiReply reply = send(json, printer, job);
        QVERIFY2(reply.status, qPrintable(reply.error));
        if (!error.isEmpty()) {
            QCOMPARE(reply.json(), (QJsonObject{{"status", false}, {"error", error}}));
            QCOMPARE(m_enabled->queue().jobs().size() + m_hidden->queue().jobs().size(), spooled);
            return;
        }
        QCOMPARE(reply.body, QByteArray("{\n    \"data\": \"Job completed successfully\",\n    \"status\": true\n}\n"));
        QVERIFY(m_enabled->waitForJobs(before + 1));
        QCOMPARE(m_enabled->jobs().at(before), rendered(receipt()));
    }

    // A queue stopped in the spooler reports false and refuses jobs before
    // their content is looked at.
    void stoppedPrinter()
    {
        QVERIFY(m_enabled->queue().disable());
        const ApiReply status =
            m_server->client().get("/getPrinterStatus?printer=" + encoded(m_enabled->queueName()), m_server->bearer());
        const ApiReply empty = send(true, m_enabled->queueName(), QJsonArray());
        QVERIFY(m_enabled->queue().enable());

        QCOMPARE(status.json().value(QStringLiteral("data")), QJsonValue(false));
        QCOMPARE(empty.json(), (QJsonObject{{"status", false}, {"error", "Printer offline or in error state"}}));
    }

private:
    std::shared_ptr<Printer> printer(const QString& name) const
    {
        for (const auto& candidate : m_server->printClient().printerList()) {
            if (candidate->name() == name)
                return candidate;
        }
        return nullptr;
    }

    ApiReply send(bool json, const QString& printerName, const QJsonValue& job) const
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

    std::unique_ptr<ApiServer> m_server;
    std::unique_ptr<CapturePrinter> m_enabled;
    std::unique_ptr<CapturePrinter> m_hidden;
};

QLK_TEST_MAIN_CORE(TestApiPrinters)
#include "tst_apiprinters.moc"

// Printers and payment terminals end to end: HTTPS requests to the program's
// own server, which discovered real CUPS raw queues (a loopback printer behind
// each records the bytes) and terminals the simulator plays on pseudo-terminals.
#include "support/ApiServer.h"
#include "support/CapturePrinter.h"
#include "support/TestMain.h"

#include "TerminalSimulator.h"
#include "core/PrintClient.h"
#include "printing/PrintJob.h"
#include "printing/Printer.h"
#include "terminals/Tpa.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrlQuery>

namespace {

const QJsonArray receipt{QJsonObject{{"op", "alignment"}, {"data", 1}},
                         QJsonObject{{"op", "text"}, {"data", QStringLiteral("Café Central\nTotal: 12,50 €\n")}},
                         QJsonObject{{"op", "cut"}, {"data", "feed"}}};
const QString added = QStringLiteral("QLK0000|M00|Comando adicionado com sucesso");
const QString busy = QStringLiteral("QLK1001|M10|TPA already busy");

QJsonObject answer(bool ok, const QJsonValue& value)
{
    return {{"status", ok}, {ok ? "data" : "error", value}};
}

// The status paths add the version and the device.
QJsonObject versioned(bool ok, const QJsonValue& value)
{
    return {{"status", ok}, {ok ? "data" : "error", value}, {"version", "410"}, {"device", "desktop"}};
}

} // namespace

class TestApiDevices : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLK_REQUIRE_CUPS();
        m_enabled = std::make_unique<CapturePrinter>(QStringLiteral("qlk-api"));
        m_hidden = std::make_unique<CapturePrinter>(QStringLiteral("qlk-api-hidden"));
        QVERIFY2(m_enabled->isValid() && m_hidden->isValid(), qPrintable(m_enabled->errorString()));
        for (auto* simulator : {&m_ingenico, &m_newnote})
            QVERIFY2(simulator->open(), qPrintable(simulator->errorString()));
        m_ingenico.setStepInterval(100);
        m_newnote.setOutcomes({TerminalSimulator::Outcome::Silence});
        m_newnote.setAnswerPolls(false);
        qputenv(SerialPortDescription::SimulatedPortsVariable,
                QStringLiteral("%1=0B00:0060,%2=0403:6001").arg(m_ingenico.portPath(), m_newnote.portPath()).toUtf8());

        m_server = std::make_unique<ApiServer>();
        QVERIFY2(m_server->isValid(), qPrintable(m_server->errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(printer(m_enabled->queueName()) && printer(m_hidden->queueName()), 15000);
        // A printer seen for the first time is off until the user switches it on.
        QVERIFY(!printer(m_hidden->queueName())->available());
        printer(m_enabled->queueName())->setAvailable(true);
        QVERIFY(terminal(m_ingenico.portPath()));
        // The first status poll of the Ingenico worker is answered "M00000".
        QTRY_COMPARE_WITH_TIMEOUT(terminal(m_ingenico.portPath())->lastStatus(), QStringLiteral("M00000"), 15000);
    }

    // A printer the user switched off is neither listed nor found.
    void listed()
    {
        const QString name = m_enabled->queueName();
        QCOMPARE(call("/getPrinters", {}), answer(true, QJsonArray{name}));
        QCOMPARE(call("/getPrinterStatus", {{"printer", name}}), versioned(true, true));
        QCOMPARE(call("/getPrinterStatus", {{"printer", m_hidden->queueName()}}),
                 versioned(false, "Printer not found"));

        const QJsonArray tpas = call("/getTpas", {}).value(QStringLiteral("data")).toArray();
        QCOMPARE(tpas.size(), 2);
        QCOMPARE(QJsonDocument(tpas.first().toObject()).toJson(QJsonDocument::Compact),
                 R"({"description":"Simulated serial port","manufacturer":"Quorva Link","portName":")" +
                     m_ingenico.portPath().toUtf8() +
                     R"(","productIdentifier":96,"vendorId":1,"vendorIdentifier":2816})");
    }

    void sendJob_data()
    {
        QTest::addColumn<bool>("json");
        QTest::addColumn<QString>("printer");
        QTest::addColumn<QJsonValue>("job");
        QTest::addColumn<QString>("error"); // empty: printed

        const QString on = m_enabled->queueName();
        QTest::newRow("json") << true << on << QJsonValue(receipt) << QString();
        QTest::newRow("parameters") << false << on << QJsonValue(QString(QJsonDocument(receipt).toJson())) << QString();
        QTest::newRow("not enabled by the user")
            << true << m_hidden->queueName() << QJsonValue(receipt) << "Printer not found";
        QTest::newRow("empty job") << true << on << QJsonValue(QJsonArray()) << "Job is empty";
        QTest::newRow("broken job") << false << on << QJsonValue("[{") << "Job with incorrect format";
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
        const QJsonObject reply = call("/sendJob", {{"printer", printer}, {"job", job}}, json);
        if (!error.isEmpty()) {
            QCOMPARE(reply, answer(false, error));
            QCOMPARE(m_enabled->queue().jobs().size() + m_hidden->queue().jobs().size(), spooled);
            return;
        }
        QCOMPARE(reply, answer(true, "Job completed successfully"));
        QVERIFY(m_enabled->waitForJobs(before + 1));
        PrintJob expected(receipt, QStringLiteral("unused"), false);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        expected.render(&buffer);
        QCOMPARE(m_enabled->jobs().at(before), buffer.data());
    }

    // A purchase is sent at once; its messages are delivered until the final one, once.
    void purchase()
    {
        const QString port = m_ingenico.portPath();
        const QJsonObject poll{{"tpa_port", port}, {"terminal_tpa_id", "till-1"}};
        QCOMPARE(call("/sendTpaPurchase", {{"tpa_port", port}, {"terminal_tpa_id", "till-1"}, {"amount", "12,50"}}),
                 answer(true, "QLK0000|M00|TPA purchase command sent"));
        QTRY_VERIFY_WITH_TIMEOUT(m_ingenico.messages().contains("P05100133304978200001250"), 15000);

        // The whole list so far on each poll, until the terminal's final answer.
        const QJsonArray expected{added, "M001INSIRA OU APROXIME O CARTAO", "M025CONFIRME O VALOR",
                                  "M001INTRODUZA O PIN", "P1510000001250"};
        QJsonArray seen;
        for (QDeadlineTimer deadline(30000); seen != expected && !deadline.hasExpired(); QTest::qWait(50))
            seen = call("/getTpaTransactionStatus", poll, true).value(QStringLiteral("data")).toArray();
        QCOMPARE(seen, expected);
        // Once idle the list has been handed over: at most one more answer
        // repeats it (read in the instant before the end), then none.
        QTRY_VERIFY_WITH_TIMEOUT(!terminal(port)->isInTransaction(), 15000);
        QJsonArray after = call("/getTpaTransactionStatus", poll).value(QStringLiteral("data")).toArray();
        if (!after.isEmpty()) {
            QCOMPARE(after, expected);
            after = call("/getTpaTransactionStatus", poll).value(QStringLiteral("data")).toArray();
        }
        QCOMPARE(after, QJsonArray());
        QCOMPARE(call("/getTpaStatus", poll), versioned(true, "M00000"));
    }

    // While one caller's command runs, the others are told the terminal is busy
    // and their commands are not sent; the owner still reads its messages.
    void busyForOthers()
    {
        const QString port = m_newnote.portPath();
        const QJsonObject owner{{"tpa_port", port}, {"terminal_tpa_id", "till-1"}};
        const QJsonObject other{{"tpa_port", port}, {"terminal_tpa_id", "till-2"}, {"amount", "3.00"}};

        QCOMPARE(call("/sendTpaOpen", owner), answer(true, "QLK0000|M00|TPA open command sent"));
        QTRY_VERIFY_WITH_TIMEOUT(m_newnote.messages().contains("S00010000011"), 15000);
        QCOMPARE(call("/sendTpaRefund", other, true), answer(true, busy));
        QCOMPARE(call("/clearTpaTransactionStatus", other), answer(true, busy));
        QCOMPARE(call("/getTpaTransactionStatus", other), answer(true, QJsonArray()));
        QTRY_COMPARE_WITH_TIMEOUT(call("/getTpaTransactionStatus", owner), answer(true, QJsonArray{added}), 15000);

        // The terminal answers at last; the owner clears its list once.
        m_newnote.sendMessage("S00000");
        QTRY_VERIFY_WITH_TIMEOUT(!terminal(port)->isInTransaction(), 15000);
        QCOMPARE(call("/clearTpaTransactionStatus", owner), answer(true, QJsonArray{added, "S00000"}));
        QCOMPARE(call("/clearTpaTransactionStatus", owner), answer(true, QJsonArray()));
        for (const QByteArray& message : m_newnote.messages())
            QVERIFY2(!message.startsWith("C00"), message.constData());
    }

private:
    // Parameter mode (fields as text, the key among them) unless json is set.
    QJsonObject call(const QByteArray& path, const QJsonObject& fields, bool json = false) const
    {
        if (json)
            return m_server->client().postJson(path, fields, m_server->bearer()).json();
        QUrlQuery query{{QStringLiteral("securityKey"), m_server->key()}};
        for (auto it = fields.begin(); it != fields.end(); ++it)
            query.addQueryItem(it.key(), QString::fromUtf8(QUrl::toPercentEncoding(it.value().toString())));
        return m_server->client()
            .request("POST", path, {{"Content-Type", "application/x-www-form-urlencoded"}},
                     query.toString(QUrl::FullyEncoded).toUtf8())
            .json();
    }

    std::shared_ptr<Printer> printer(const QString& name) const
    {
        for (const auto& candidate : m_server->printClient().printerList())
            if (candidate->name() == name)
                return candidate;
        return nullptr;
    }

    std::shared_ptr<Tpa> terminal(const QString& port) const
    {
        for (const auto& tpa : m_server->printClient().tpaList())
            if (tpa->tpa().portName() == port)
                return tpa;
        return nullptr;
    }

    std::unique_ptr<CapturePrinter> m_enabled;
    std::unique_ptr<CapturePrinter> m_hidden;
    TerminalSimulator m_ingenico{1};     // approves, answers polls
    TerminalSimulator m_newnote{2};      // never answers unless told
    std::unique_ptr<ApiServer> m_server; // goes first, before the devices
};

QLK_TEST_MAIN_CORE(TestApiDevices)
#include "tst_apidevices.moc"

// The web API end to end over HTTPS, with real CUPS raw queues and terminals played on pseudo-terminals.
#include "support/ApiServer.h"
#include "support/CapturePrinter.h"
#include "support/HttpTestRig.h"
#include "support/RenderSupport.h"
#include "support/TestMain.h"

#include "TerminalSimulator.h"
#include "api/PrintClientRequestHandler.h"
#include "core/PrintClient.h"
#include "printing/Printer.h"
#include "terminals/Tpa.h"

#include <QUrlQuery>

namespace {

const QByteArray none;
const QJsonArray receipt{QJsonObject{{"op", "alignment"}, {"data", 1}},
                         QJsonObject{{"op", "text"}, {"data", QStringLiteral("Café Central\nTotal: 12,50 €\n")}},
                         QJsonObject{{"op", "cut"}, {"data", "feed"}}};
const QString added = QStringLiteral("QLK0000|M00|Comando adicionado com sucesso");

// "status" and "data" or "error"; the status paths add the version and the device.
QJsonObject answer(bool ok, const QJsonValue& value, bool versioned = false)
{
    const QString member = ok ? "data" : "error";
    return versioned ? QJsonObject{{"status", ok}, {member, value}, {"version", "410"}, {"device", "desktop"}}
                     : QJsonObject{{"status", ok}, {member, value}};
}
const QJsonObject deviceOnline = answer(true, "Device online");

// A terminal as /getTpas lists it; vendorId is the family (1 Ingenico, 2 Newnote).
QJsonObject tpaEntry(const QString& port, int vendor, int product, int family)
{
    return {{"description", "Simulated serial port"},
            {"manufacturer", "Quorva Link"},
            {"portName", port},
            {"productIdentifier", product},
            {"vendorId", family},
            {"vendorIdentifier", vendor}};
}

const QHash<QByteArray, QByteArray> onTheLine{{"/sendTpaOpen", "P001001333049782"},
                                              {"/sendTpaClose", "P042101333049782"},
                                              {"/sendTpaPurchase", "P05100133304978200001250"},
                                              {"/sendTpaRefund", "P06100133302978200001250REF120240301140509"},
                                              {"/sendTpaOpenMenu", "M00500"},
                                              {"/sendTpaReprintLastReceipt", "M00505"}};

} // namespace

class TestApi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLK_REQUIRE_CUPS();
        m_enabled = std::make_unique<CapturePrinter>(QStringLiteral("qlk-api"));
        m_hidden = std::make_unique<CapturePrinter>(QStringLiteral("qlk-api-hidden"));
        QVERIFY2(m_enabled->isValid() && m_hidden->isValid(), qPrintable(m_enabled->errorString()));
        for (auto* simulator : {&m_ingenico, &m_newnote, &m_routes})
            QVERIFY2(simulator->open(), qPrintable(simulator->errorString()));
        m_newnote.setOutcomes({TerminalSimulator::Outcome::Silence});
        m_newnote.setAnswerPolls(false);
        m_routes.setOutcomes({TerminalSimulator::Outcome::Silence}); // each route row ends the one before
        qputenv(SerialPortDescription::SimulatedPortsVariable,
                QStringLiteral("%1=0B00:0060,%2=0403:6001,%3=0B00:0062")
                    .arg(m_ingenico.portPath(), m_newnote.portPath(), m_routes.portPath())
                    .toUtf8());

        m_server = std::make_unique<ApiServer>();
        QVERIFY2(m_server->isValid(), qPrintable(m_server->errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(m_server->printer(m_enabled->queueName()) && m_server->printer(m_hidden->queueName()),
                                 15000);
        m_server->printer(m_enabled->queueName())->setAvailable(true);
        for (const auto* sim : {&m_ingenico, &m_routes})
            QTRY_COMPARE_WITH_TIMEOUT(m_server->terminal(sim->portPath())->lastStatus(), QStringLiteral("M00000"),
                                      15000);
    }

    void requests_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<ApiHeaders>("headers");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("answer");
        const auto row = [](const QByteArray& name, const QByteArray& method, const QByteArray& target,
                            const ApiHeaders& headers, const QByteArray& body, int status, const QJsonObject& answer) {
            QTest::newRow(name.constData())
                << method << target << headers << body << status << QJsonDocument(answer).toJson();
        };
        const QByteArray k = m_server->keyBytes();
        const ApiHeaders bearer = m_server->bearer();
        const ApiHeaders asJson{{"Content-Type", "application/json"}};

        // Every route, any method, with or without a final slash; a command leaves its transaction for the rows after.
        const QJsonArray tpas{tpaEntry(m_ingenico.portPath(), 0x0B00, 0x0060, 1),
                              tpaEntry(m_newnote.portPath(), 0x0403, 0x6001, 2),
                              tpaEntry(m_routes.portPath(), 0x0B00, 0x0062, 1)};
        const QByteArray printer = "?printer=" + m_enabled->queueName().toUtf8();
        const QByteArray terminal = "?tpa_port=" + m_routes.portPath().toUtf8() +
                                    "&terminal_tpa_id=r&amount=12,50&tpa_id=REF1&datetime=2024-03-01%2014:05:09";
        const QList<std::tuple<QByteArray, QByteArray, QJsonObject>> routes{
            {"/getPrinters", "", answer(true, QJsonArray{m_enabled->queueName()})},
            {"/getPrinterStatus", printer, answer(true, true, true)},
            {"/sendJob", "", answer(false, "Job with incorrect format")},
            {"/previewJob", "?job=[]", answer(false, "Job is empty")},
            {"/setNotificationOrder", "", {{"status", false}, {"data", "Error receiving notification"}}},
            {"/getStatus", "", answer(true, "Device online")},
            {"/getTpas", "", answer(true, tpas)},
            {"/getTpaStatus", terminal, answer(true, "M00000", true)},
            {"/sendTpaOpen", terminal, answer(true, "QLK0000|M00|TPA open command sent")},
            {"/getTpaTransactionStatus", terminal, answer(true, QJsonArray{added})},
            {"/clearTpaTransactionStatus", terminal, answer(true, "QLK1001|M10|TPA already busy")},
            {"/sendTpaClose", terminal, answer(true, "QLK0000|M00|TPA close command sent")},
            {"/sendTpaPurchase", terminal, answer(true, "QLK0000|M00|TPA purchase command sent")},
            {"/sendTpaRefund", terminal, answer(true, "QLK0000|M00|TPA refund command sent")},
            {"/sendTpaOpenMenu", terminal, answer(true, "QLK0000|M00|TPA menu open command sent")},
            {"/sendTpaReprintLastReceipt", terminal,
             answer(true, "QLK0000|M00|TPA reprint last receipt command sent")}};
        int i = 0;
        for (const auto& [route, query, expected] : routes)
            row(route, "PUT", route + (i++ % 2 ? "/" : "") + query, bearer, none, 200, expected);
        row("printer switched off", "GET", "/getPrinterStatus?printer=" + m_hidden->queueName().toUtf8(), bearer, none,
            200, answer(false, "Printer not found", true));
        // Each caller reads only its own transaction's messages.
        row("another caller", "GET", "/getTpaTransactionStatus" + QByteArray(terminal).replace("=r&", "=s&"), bearer,
            none, 200, answer(true, QJsonArray()));
        // A terminal whose worker has no status yet (the Newnote one never answers a poll).
        row("/getTpaStatus, no status yet", "POST", "/getTpaStatus", bearer + asJson,
            QJsonDocument(QJsonObject{{"tpa_port", m_newnote.portPath()}}).toJson(), 200,
            answer(false, "QLK1001|M98|TPA status not found", true));

        // Before the key and the route; a repeated member is not taken as the last one.
        const QByteArray twice = "{\"securityKey\": \"" + k + "\", \"securityKey\": \"" + k + "\"}";
        row("repeated member", "POST", "/getStatus", asJson, twice, 200, answer(false, "Invalid Json"));

        row("key in the query", "POST", "/getStatus?securityKey=" + k, {}, none, 200, deviceOnline);
        row("key as JSON member", "POST", "/getStatus", asJson, "{\"securityKey\": \"" + k + "\"}", 200, deviceOnline);
        row("wrong bearer beats the query", "POST", "/getStatus?securityKey=" + k, {{"Authorization", "Bearer nope"}},
            none, 401, answer(false, "Invalid security key"));

        // A whole positive number shows the list.
        row("with_notifications=7", "GET", "/getStatus?with_notifications=7", bearer, none, 200,
            {{"status", true}, {"data", "Device online"}, {"notifications", QJsonArray()}});
    }

    void requests()
    {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, target);
        QFETCH(ApiHeaders, headers);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QByteArray, answer);
        QByteArray route = target.left(target.indexOf('?'));
        if (route.endsWith('/'))
            route.chop(1);
        const auto routes = m_server->terminal(m_routes.portPath());
        if (route.startsWith("/sendTpa") && routes->isInTransaction()) {
            m_routes.sendMessage("M00500"); // a final answer
            QTRY_VERIFY_WITH_TIMEOUT(!routes->isInTransaction(), 10000);
        }
        const ApiReply reply = m_server->client().request(method, target, headers, body);
        QCOMPARE(reply.status, status);
        QCOMPARE(reply.body, answer);
        if (target.contains(m_routes.portPath().toUtf8()) && onTheLine.contains(route)) {
            QTRY_VERIFY_WITH_TIMEOUT(m_routes.messages().contains(onTheLine[route]), 10000);
            QCoreApplication::processEvents(); // the worker's "added", posted before it wrote
        }
    }

    // Without its state object the handler knows no key: not even an empty one passes.
    void handlerWithoutStateLetsNobodyIn()
    {
        PrintClientRequestHandler handler;
        HttpTestServer server(HttpTestServer::tls(), &handler);
        const ApiReply reply = ApiClient(server.port()).get("/getStatus");
        QCOMPARE(reply.status, 401);
        QCOMPARE(reply.body, QJsonDocument(answer(false, "Invalid security key")).toJson());
    }

    // Sent in parameter mode, listed by /getStatus as it came.
    void notification()
    {
        m_server->printClient().setNotifications({});
        const QJsonObject sent{{"request_id", "41"},       {"terminal_id", "3"},    {"status_id", "2"},
                               {"title", "Mesa 7 — pago"}, {"subtitle", "12,50 €"}, {"lastModifiedBy", "Ana"}};
        QCOMPARE(call("/setNotificationOrder", sent), answer(true, "Notification received"));
        const QJsonArray list = call("/getStatus", {{"with_notifications", "1"}})["notifications"].toArray();
        QCOMPARE(list.size(), 1);
        QJsonObject record = list.first().toObject(), expected = sent;
        record.remove(QStringLiteral("date"));
        for (const char* id : {"request_id", "terminal_id", "status_id"})
            expected[id] = expected[id].toString().toInt();
        QCOMPARE(record, expected);
    }

    // The printer receives exactly what the job renders to; refusals print nothing.
    void sendJob()
    {
        const auto spooled = [this] { return m_enabled->queue().jobs().size() + m_hidden->queue().jobs().size(); };
        const int before = spooled(), printed = m_enabled->jobs().size();
        QCOMPARE(call("/sendJob", {{"printer", m_hidden->queueName()}, {"job", receipt}}, true),
                 answer(false, "Printer not found")); // not switched on by the user
        QCOMPARE(call("/sendJob", {{"printer", m_enabled->queueName()}, {"job", QJsonArray()}}, true),
                 answer(false, "Job is empty"));
        QCOMPARE(spooled(), before);
        // In parameter mode the job is JSON text.
        QCOMPARE(
            call("/sendJob", {{"printer", m_enabled->queueName()}, {"job", QString(QJsonDocument(receipt).toJson())}}),
            answer(true, "Job completed successfully"));
        QVERIFY(m_enabled->waitForJobs(printed + 1));
        QCOMPARE(m_enabled->jobs().at(printed), RenderSupport::render(receipt));
    }

    // A terminal that takes no more bytes: the timeout is a failure, its text under "data".
    void timedOutStatus()
    {
        const QString port = m_ingenico.portPath(), timeout = QStringLiteral("QLK1001|M99|Operation Timeout");
        QVERIFY(m_ingenico.setPortOutputSuspended(true));
        // The next poll comes within 30 s and gives up writing after 5 s.
        QTRY_COMPARE_WITH_TIMEOUT(m_server->terminal(port)->lastStatus(), timeout, 45000);
        QCOMPARE(call("/getTpaStatus", {{"tpa_port", port}, {"terminal_tpa_id", "till-1"}}),
                 (QJsonObject{{"status", false}, {"data", timeout}, {"version", "410"}, {"device", "desktop"}}));
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

    std::unique_ptr<CapturePrinter> m_enabled;
    std::unique_ptr<CapturePrinter> m_hidden;
    TerminalSimulator m_ingenico{1};     // answers polls until its port is stopped
    TerminalSimulator m_newnote{2};      // never answers unless told
    TerminalSimulator m_routes{1};       // the route rows' terminal
    std::unique_ptr<ApiServer> m_server; // goes first, before the devices
};

QLK_TEST_MAIN_CORE(TestApi)
#include "tst_api.moc"

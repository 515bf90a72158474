// The payment terminal paths end to end: HTTPS requests to the program's own
// server, which discovered terminals played by the simulator on
// pseudo-terminals through QUORVA_LINK_SIMULATED_PORTS.
#include "support/ApiServer.h"
#include "support/TestMain.h"

#include "TerminalSimulator.h"
#include "core/PrintClient.h"
#include "terminals/Tpa.h"

#include <QJsonArray>
#include <QUrlQuery>

using Outcome = TerminalSimulator::Outcome;

namespace {

const QString added = QStringLiteral("QLK0000|M00|Comando adicionado com sucesso");
const QString busy = QStringLiteral("QLK1001|M10|TPA already busy");
const QString tpaNotFound = QStringLiteral("QLK1001|M21|TPA not found");
const QString offline = QStringLiteral("QLK1001|M22|TPA offline or in error state");
const QString noStatus = QStringLiteral("QLK1001|M98|TPA status not found");

QJsonObject failure(const QString& error, bool versioned = false)
{
    QJsonObject answer{{"status", false}, {"error", error}};
    if (versioned) {
        answer.insert(QStringLiteral("version"), QStringLiteral("410"));
        answer.insert(QStringLiteral("device"), QStringLiteral("desktop"));
    }
    return answer;
}

QJsonObject success(const QJsonValue& data)
{
    return QJsonObject{{"status", true}, {"data", data}};
}

} // namespace

class TestApiTerminals : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void listed();
    void notFound_data();
    void notFound();
    void purchase_data();
    void purchase();
    void busyForOthers();
    void noStatusYet();
    void timedOut();
    void portGone();

private:
    // Parameter mode unless json is set; fields as text.
    QJsonObject call(const QByteArray& path, const QJsonObject& fields, bool json = false) const;
    std::shared_ptr<Tpa> terminal(const QString& port) const;

    std::unique_ptr<TerminalSimulator> m_ingenico; // approves, answers polls
    std::unique_ptr<TerminalSimulator> m_newnote;  // never answers
    std::unique_ptr<TerminalSimulator> m_quiet;    // answers no polls; unplugged at the end
    std::unique_ptr<TerminalSimulator> m_stuck;    // takes no bytes: the status poll times out
    std::unique_ptr<ApiServer> m_server;
};

void TestApiTerminals::initTestCase()
{
    m_ingenico = std::make_unique<TerminalSimulator>(1);
    m_newnote = std::make_unique<TerminalSimulator>(2);
    m_quiet = std::make_unique<TerminalSimulator>(1);
    m_stuck = std::make_unique<TerminalSimulator>(1);
    for (auto* simulator : {m_ingenico.get(), m_newnote.get(), m_quiet.get(), m_stuck.get()})
        QVERIFY2(simulator->open(), qPrintable(simulator->errorString()));
    QVERIFY(m_stuck->setPortOutputSuspended(true));
    m_ingenico->setStepInterval(100);
    m_newnote->setOutcomes({Outcome::Silence});
    m_newnote->setAnswerPolls(false);
    m_quiet->setAnswerPolls(false);

    qputenv(SerialPortDescription::SimulatedPortsVariable,
            QStringLiteral("%1=0B00:0060,%2=0403:6001,%3=079B:0028,%4=079B:0029")
                .arg(m_ingenico->portPath(), m_newnote->portPath(), m_quiet->portPath(), m_stuck->portPath())
                .toUtf8());
    m_server = std::make_unique<ApiServer>();
    QVERIFY2(m_server->isValid(), qPrintable(m_server->errorString()));
    for (auto* simulator : {m_ingenico.get(), m_newnote.get(), m_quiet.get(), m_stuck.get()})
        QVERIFY(terminal(simulator->portPath()));
    // The first status poll of the Ingenico worker is answered "M00000".
    QTRY_COMPARE_WITH_TIMEOUT(terminal(m_ingenico->portPath())->lastStatus(), QStringLiteral("M00000"), 15000);
}

void TestApiTerminals::cleanupTestCase()
{
    m_server.reset();
    m_ingenico.reset();
    m_newnote.reset();
    m_quiet.reset();
    m_stuck.reset();
}

QJsonObject TestApiTerminals::call(const QByteArray& path, const QJsonObject& fields, bool json) const
{
    ApiReply reply;
    if (json) {
        reply = m_server->client().postJson(path, fields, m_server->bearer());
    } else {
        QUrlQuery query;
        for (auto it = fields.begin(); it != fields.end(); ++it)
            query.addQueryItem(it.key(), QString::fromUtf8(QUrl::toPercentEncoding(it.value().toString())));
        query.addQueryItem(QStringLiteral("securityKey"), m_server->key());
        reply = m_server->client().postForm(path, query.toString(QUrl::FullyEncoded).toUtf8());
    }
    if (reply.status != 200)
        qWarning("%s answered %d: %s", path.constData(), reply.status, qPrintable(reply.error));
    return reply.json();
}

std::shared_ptr<Tpa> TestApiTerminals::terminal(const QString& port) const
{
    for (const auto& tpa : m_server->printClient().tpaList()) {
        if (tpa->tpa().portName() == port)
            return tpa;
    }
    return nullptr;
}

void TestApiTerminals::listed()
{
    const auto entry = [](const QString& port, int vendor, int product, int family) {
        return QJsonObject{
            {"description", "Simulated serial port"}, {"manufacturer", "Quorva Link"}, {"portName", port},
            {"productIdentifier", product},           {"vendorIdentifier", vendor},    {"vendorId", family}};
    };
    const QJsonObject ingenico = entry(m_ingenico->portPath(), 0x0B00, 0x0060, 1);
    const QJsonObject newnote = entry(m_newnote->portPath(), 0x0403, 0x6001, 2);
    const QJsonObject quiet = entry(m_quiet->portPath(), 0x079B, 0x0028, 1);
    const QJsonObject stuck = entry(m_stuck->portPath(), 0x079B, 0x0029, 1);

    QCOMPARE(call("/getTpas", {}), success(QJsonArray{ingenico, newnote, quiet, stuck}));

    // A terminal the user switched off is neither listed nor found.
    terminal(m_newnote->portPath())->setAvailable(false);
    const QJsonObject list = call("/getTpas/", {});
    const QJsonObject open = call("/sendTpaOpen", {{"tpa_port", m_newnote->portPath()}, {"terminal_tpa_id", "a"}});
    terminal(m_newnote->portPath())->setAvailable(true);
    QCOMPARE(list, success(QJsonArray{ingenico, quiet, stuck}));
    QCOMPARE(open, failure(tpaNotFound));
}

void TestApiTerminals::notFound_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("versioned");

    const QString port = m_ingenico->portPath();
    QTest::newRow("purchase without port") << QByteArray("/sendTpaPurchase") << QString() << false;
    QTest::newRow("purchase, port in other case") << QByteArray("/sendTpaPurchase") << port.toUpper() << false;
    QTest::newRow("refund, unknown port") << QByteArray("/sendTpaRefund") << QStringLiteral("COM3") << false;
    QTest::newRow("menu, port with slash") << QByteArray("/sendTpaOpenMenu") << port + "/" << false;
    QTest::newRow("status without port") << QByteArray("/getTpaStatus") << QString() << true;
    QTest::newRow("transaction status") << QByteArray("/getTpaTransactionStatus") << QStringLiteral("x") << false;
    QTest::newRow("clear") << QByteArray("/clearTpaTransactionStatus") << QStringLiteral("x") << false;
}

// Nothing reaches a terminal for a port that names none.
void TestApiTerminals::notFound()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, port);
    QFETCH(bool, versioned);

    const int before = m_ingenico->messages().size();
    QJsonObject fields{{"terminal_tpa_id", "till-1"}, {"amount", "1.00"}};
    if (!port.isNull())
        fields.insert(QStringLiteral("tpa_port"), port);
    QCOMPARE(call(path, fields), failure(tpaNotFound, versioned));
    QCOMPARE(m_ingenico->messages().size(), before);
}

void TestApiTerminals::purchase_data()
{
    QTest::addColumn<bool>("json");
    QTest::addColumn<QJsonValue>("amount");
    QTest::addColumn<QByteArray>("sentAmount");

    QTest::newRow("parameters") << false << QJsonValue("12.50") << QByteArray("00001250");
    QTest::newRow("json") << true << QJsonValue("7,05") << QByteArray("00000705");
    // Only a JSON string carries a field: a number passes an empty amount on.
    QTest::newRow("json number") << true << QJsonValue(12.5) << QByteArray("00000000");
}

// A purchase is sent at once; its messages are polled until the terminal's
// final answer, which is delivered once.
void TestApiTerminals::purchase()
{
    QFETCH(bool, json);
    QFETCH(QJsonValue, amount);
    QFETCH(QByteArray, sentAmount);

    const QString port = m_ingenico->portPath();
    const QJsonObject fields{{"tpa_port", port}, {"terminal_tpa_id", "till-1"}, {"amount", amount}};
    QTRY_VERIFY_WITH_TIMEOUT(!terminal(port)->isInTransaction(), 15000);
    QCOMPARE(call("/sendTpaPurchase", fields, json), success("QLK0000|M00|TPA purchase command sent"));

    const QByteArray message = "P051001333049782" + sentAmount;
    QTRY_VERIFY_WITH_TIMEOUT(m_ingenico->messages().contains(message), 15000);

    const QString final = QStringLiteral("P15100") + QString::fromLatin1(sentAmount);
    const QJsonArray expected{added, "M001INSIRA OU APROXIME O CARTAO", "M025CONFIRME O VALOR", "M001INTRODUZA O PIN",
                              final};
    const QJsonObject poll{{"tpa_port", port}, {"terminal_tpa_id", "till-1"}};
    QJsonArray seen;
    QDeadlineTimer deadline(30000);
    while (!seen.contains(final) && !deadline.hasExpired()) {
        const QJsonObject answer = call("/getTpaTransactionStatus", poll, json);
        QCOMPARE(answer.value(QStringLiteral("status")), QJsonValue(true));
        seen = answer.value(QStringLiteral("data")).toArray();
        // While the transaction runs, each answer is the whole list so far.
        QVERIFY(seen.size() <= expected.size());
        for (int i = 0; i < seen.size(); ++i)
            QCOMPARE(seen.at(i), expected.at(i));
        QTest::qWait(50);
    }
    QCOMPARE(seen, expected);

    // Once the terminal is idle the list has been handed over: at most one more
    // answer repeats it (it was read in the instant before the end), then none.
    QTRY_VERIFY_WITH_TIMEOUT(!terminal(port)->isInTransaction(), 15000);
    QJsonArray after = call("/getTpaTransactionStatus", poll).value(QStringLiteral("data")).toArray();
    if (!after.isEmpty()) {
        QCOMPARE(after, expected);
        after = call("/getTpaTransactionStatus", poll).value(QStringLiteral("data")).toArray();
    }
    QCOMPARE(after, QJsonArray());

    QJsonObject status = success("M00000");
    status.insert(QStringLiteral("version"), QStringLiteral("410"));
    status.insert(QStringLiteral("device"), QStringLiteral("desktop"));
    QCOMPARE(call("/getTpaStatus", poll, json), status);
}

// While one caller's command runs, the others are told the terminal is busy
// and their commands are not sent; the owner still reads its messages.
void TestApiTerminals::busyForOthers()
{
    const QString port = m_newnote->portPath();
    const QJsonObject owner{{"tpa_port", port}, {"terminal_tpa_id", "till-1"}};
    const QJsonObject other{{"tpa_port", port}, {"terminal_tpa_id", "till-2"}, {"amount", "3.00"}};

    QCOMPARE(call("/sendTpaOpen", owner), success("QLK0000|M00|TPA open command sent"));
    QTRY_VERIFY_WITH_TIMEOUT(m_newnote->messages().contains("S00010000011"), 15000);

    QCOMPARE(call("/sendTpaPurchase", other), success(busy));
    QCOMPARE(call("/sendTpaRefund", other, true), success(busy));
    QCOMPARE(call("/clearTpaTransactionStatus", other), success(busy));
    QJsonObject status = success(busy);
    status.insert(QStringLiteral("version"), QStringLiteral("410"));
    status.insert(QStringLiteral("device"), QStringLiteral("desktop"));
    QCOMPARE(call("/getTpaStatus", other), status);
    QCOMPARE(call("/getTpaTransactionStatus", other), success(QJsonArray()));

    // The owner's list is kept while its command runs.
    QTRY_COMPARE_WITH_TIMEOUT(call("/getTpaTransactionStatus", owner), success(QJsonArray{added}), 15000);
    QCOMPARE(call("/getTpaTransactionStatus", owner), success(QJsonArray{added}));

    // The terminal answers at last; the owner clears its list once.
    m_newnote->sendMessage("S00000");
    QTRY_VERIFY_WITH_TIMEOUT(!terminal(port)->isInTransaction(), 15000);
    QCOMPARE(call("/clearTpaTransactionStatus", owner), success(QJsonArray{added, "S00000"}));
    QCOMPARE(call("/clearTpaTransactionStatus", owner), success(QJsonArray()));
    for (const QByteArray& message : m_newnote->messages())
        QVERIFY2(!message.startsWith("C00"), message.constData());
}

// A terminal that has reported no status yet, asked by a caller never seen.
void TestApiTerminals::noStatusYet()
{
    const QJsonObject fields{{"tpa_port", m_quiet->portPath()}, {"terminal_tpa_id", "never-seen"}};
    QCOMPARE(call("/getTpaStatus", fields), failure(noStatus, true));
    QCOMPARE(call("/getTpaTransactionStatus", fields), success(QJsonArray()));
}

// A timed-out status is a failure, reported with its text under "data".
void TestApiTerminals::timedOut()
{
    const QString timeout = QStringLiteral("QLK1001|M99|Operation Timeout");
    QTRY_COMPARE_WITH_TIMEOUT(terminal(m_stuck->portPath())->lastStatus(), timeout, 20000);
    const QJsonObject fields{{"tpa_port", m_stuck->portPath()}, {"terminal_tpa_id", "till-1"}};
    const QJsonObject expected{{"status", false}, {"data", timeout}, {"version", "410"}, {"device", "desktop"}};
    QCOMPARE(call("/getTpaStatus", fields), expected);
}

// A terminal whose device is gone is offline until the next discovery drops it.
void TestApiTerminals::portGone()
{
    const QString port = m_quiet->portPath();
    // A fresh discovery now leaves 30 s before the next one.
    m_server->printClient().updateTpas();
    QVERIFY(terminal(port));
    m_quiet->closeMaster();
    QTRY_VERIFY_WITH_TIMEOUT(!terminal(port)->state(), 15000);

    const QJsonObject fields{{"tpa_port", port}, {"terminal_tpa_id", "till-1"}, {"amount", "1.00"}};
    QCOMPARE(call("/getTpaStatus", fields), failure(offline, true));
    QCOMPARE(call("/getTpaTransactionStatus", fields), failure(offline));
    QCOMPARE(call("/sendTpaPurchase", fields), failure(offline));
    QCOMPARE(call("/sendTpaReprintLastReceipt", fields, true), failure(offline));
}

QLK_TEST_MAIN_CORE(TestApiTerminals)
#include "tst_apiterminals.moc"

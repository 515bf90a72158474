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

namespace {

const QString added = QStringLiteral("QLK0000|M00|Comando adicionado com sucesso");
const QString busy = QStringLiteral("QLK1001|M10|TPA already busy");
const QString tpaNotFound = QStringLiteral("QLK1001|M21|TPA not found");

// "status" and "data" or "error"; the status path adds the version and device.
QJsonObject answer(bool ok, const QJsonValue& value, bool versioned = false)
{
    QJsonObject object{{"status", ok}, {ok ? "data" : "error", value}};
    if (versioned) {
        object.insert(QStringLiteral("version"), QStringLiteral("410"));
        object.insert(QStringLiteral("device"), QStringLiteral("desktop"));
    }
    return object;
}

} // namespace

class TestApiTerminals : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_ingenico = std::make_unique<TerminalSimulator>(1);
        m_newnote = std::make_unique<TerminalSimulator>(2);
        m_quiet = std::make_unique<TerminalSimulator>(1);
        m_stuck = std::make_unique<TerminalSimulator>(1);
        for (auto* simulator : {m_ingenico.get(), m_newnote.get(), m_quiet.get(), m_stuck.get()})
            QVERIFY2(simulator->open(), qPrintable(simulator->errorString()));
        QVERIFY(m_stuck->setPortOutputSuspended(true));
        m_ingenico->setStepInterval(100);
        m_newnote->setOutcomes({TerminalSimulator::Outcome::Silence});
        m_newnote->setAnswerPolls(false);
        m_quiet->setAnswerPolls(false);

        qputenv(SerialPortDescription::SimulatedPortsVariable,
                QStringLiteral("%1=0B00:0060,%2=0403:6001,%3=079B:0028,%4=079B:0029")
                    .arg(m_ingenico->portPath(), m_newnote->portPath(), m_quiet->portPath(), m_stuck->portPath())
                    .toUtf8());
        m_server = std::make_unique<ApiServer>();
        QVERIFY2(m_server->isValid(), qPrintable(m_server->errorString()));
        QVERIFY(terminal(m_ingenico->portPath()));
        // The first status poll of the Ingenico worker is answered "M00000".
        QTRY_COMPARE_WITH_TIMEOUT(terminal(m_ingenico->portPath())->lastStatus(), QStringLiteral("M00000"), 15000);
    }

    void cleanupTestCase() { m_server.reset(); }

    // A terminal the user switched off is neither listed nor found.
    void listed()
    {
        const QJsonObject ingenico{{"description", "Simulated serial port"},
                                   {"manufacturer", "Quorva Link"},
                                   {"portName", m_ingenico->portPath()},
                                   {"productIdentifier", 0x0060},
                                   {"vendorIdentifier", 0x0B00},
                                   {"vendorId", 1}};
        const QJsonArray all = call("/getTpas", {}).value(QStringLiteral("data")).toArray();
        QCOMPARE(all.size(), 4);
        QCOMPARE(all.first(), QJsonValue(ingenico));

        terminal(m_newnote->portPath())->setAvailable(false);
        const QJsonArray shown = call("/getTpas/", {}).value(QStringLiteral("data")).toArray();
        const QJsonObject open = call("/sendTpaOpen", {{"tpa_port", m_newnote->portPath()}, {"terminal_tpa_id", "a"}});
        terminal(m_newnote->portPath())->setAvailable(true);
        QCOMPARE(shown.size(), 3);
        QCOMPARE(open, answer(false, tpaNotFound));
    }

    void refused_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QJsonObject>("expected");

        const QString port = m_ingenico->portPath();
        QTest::newRow("no port") << QByteArray("/sendTpaPurchase") << QString() << answer(false, tpaNotFound);
        QTest::newRow("port in other case")
            << QByteArray("/sendTpaRefund") << port.toUpper() << answer(false, tpaNotFound);
        QTest::newRow("port with slash") << QByteArray("/sendTpaOpenMenu") << port + "/" << answer(false, tpaNotFound);
        QTest::newRow("status, no port") << QByteArray("/getTpaStatus") << QString()
                                         << answer(false, tpaNotFound, true);
        QTest::newRow("no status yet") << QByteArray("/getTpaStatus") << m_quiet->portPath()
                                       << answer(false, "QLK1001|M98|TPA status not found", true);
    }

    // Nothing reaches a terminal for a port that names none.
    void refused()
    {
        QFETCH(QByteArray, path);
        QFETCH(QString, port);
        QFETCH(QJsonObject, expected);

        const int before = m_ingenico->messages().size();
        QJsonObject fields{{"terminal_tpa_id", "till-1"}, {"amount", "1.00"}};
        if (!port.isNull())
            fields.insert(QStringLiteral("tpa_port"), port);
        QCOMPARE(call(path, fields), expected);
        QCOMPARE(m_ingenico->messages().size(), before);
    }

    // A purchase is sent at once; its messages are polled until the terminal's
    // final answer, which is delivered once.
    void purchase()
    {
        const QString port = m_ingenico->portPath();
        const QJsonObject poll{{"tpa_port", port}, {"terminal_tpa_id", "till-1"}};
        QJsonObject fields = poll;
        fields.insert(QStringLiteral("amount"), QStringLiteral("12,50"));
        QCOMPARE(call("/sendTpaPurchase", fields), answer(true, "QLK0000|M00|TPA purchase command sent"));
        QTRY_VERIFY_WITH_TIMEOUT(m_ingenico->messages().contains("P05100133304978200001250"), 15000);

        const QString final = QStringLiteral("P1510000001250");
        const QJsonArray expected{added, "M001INSIRA OU APROXIME O CARTAO", "M025CONFIRME O VALOR",
                                  "M001INTRODUZA O PIN", final};
        QJsonArray seen;
        QDeadlineTimer deadline(30000);
        while (!seen.contains(final) && !deadline.hasExpired()) {
            // While the transaction runs, each answer is the whole list so far.
            seen = call("/getTpaTransactionStatus", poll, true).value(QStringLiteral("data")).toArray();
            QVERIFY(seen.size() <= expected.size());
            for (int i = 0; i < seen.size(); ++i)
                QCOMPARE(seen.at(i), expected.at(i));
            QTest::qWait(50);
        }
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
        QCOMPARE(call("/getTpaStatus", poll), answer(true, "M00000", true));
    }

    // While one caller's command runs, the others are told the terminal is busy
    // and their commands are not sent; the owner still reads its messages.
    void busyForOthers()
    {
        const QString port = m_newnote->portPath();
        const QJsonObject owner{{"tpa_port", port}, {"terminal_tpa_id", "till-1"}};
        const QJsonObject other{{"tpa_port", port}, {"terminal_tpa_id", "till-2"}, {"amount", "3.00"}};

        QCOMPARE(call("/sendTpaOpen", owner), answer(true, "QLK0000|M00|TPA open command sent"));
        QTRY_VERIFY_WITH_TIMEOUT(m_newnote->messages().contains("S00010000011"), 15000);
        QCOMPARE(call("/sendTpaPurchase", other), answer(true, busy));
        QCOMPARE(call("/sendTpaRefund", other, true), answer(true, busy));
        QCOMPARE(call("/clearTpaTransactionStatus", other), answer(true, busy));
        QCOMPARE(call("/getTpaStatus", other), answer(true, busy, true));
        QCOMPARE(call("/getTpaTransactionStatus", other), answer(true, QJsonArray()));
        QTRY_COMPARE_WITH_TIMEOUT(call("/getTpaTransactionStatus", owner), answer(true, QJsonArray{added}), 15000);

        // The terminal answers at last; the owner clears its list once.
        m_newnote->sendMessage("S00000");
        QTRY_VERIFY_WITH_TIMEOUT(!terminal(port)->isInTransaction(), 15000);
        QCOMPARE(call("/clearTpaTransactionStatus", owner), answer(true, QJsonArray{added, "S00000"}));
        QCOMPARE(call("/clearTpaTransactionStatus", owner), answer(true, QJsonArray()));
        for (const QByteArray& message : m_newnote->messages())
            QVERIFY2(!message.startsWith("C00"), message.constData());
    }

    // A timed-out status is a failure, reported with its text under "data".
    void timedOut()
    {
        const QString timeout = QStringLiteral("QLK1001|M99|Operation Timeout");
        QTRY_COMPARE_WITH_TIMEOUT(terminal(m_stuck->portPath())->lastStatus(), timeout, 20000);
        const QJsonObject fields{{"tpa_port", m_stuck->portPath()}, {"terminal_tpa_id", "till-1"}};
        QJsonObject expected = answer(false, timeout, true);
        expected.insert(QStringLiteral("data"), expected.take(QStringLiteral("error")));
        QCOMPARE(call("/getTpaStatus", fields), expected);
    }

    // A terminal whose device is gone is offline until the next discovery drops it.
    void portGone()
    {
        const QString port = m_quiet->portPath();
        m_server->printClient().updateTpas(); // leaves 30 s before the next discovery
        QVERIFY(terminal(port));
        m_quiet->closeMaster();
        QTRY_VERIFY_WITH_TIMEOUT(!terminal(port)->state(), 15000);

        const QString offline = QStringLiteral("QLK1001|M22|TPA offline or in error state");
        const QJsonObject fields{{"tpa_port", port}, {"terminal_tpa_id", "till-1"}, {"amount", "1.00"}};
        QCOMPARE(call("/getTpaStatus", fields), answer(false, offline, true));
        QCOMPARE(call("/sendTpaPurchase", fields), answer(false, offline));
        QCOMPARE(call("/sendTpaReprintLastReceipt", fields, true), answer(false, offline));
    }

private:
    // Parameter mode unless json is set; fields as text.
    QJsonObject call(const QByteArray& path, const QJsonObject& fields, bool json = false) const
    {
        if (json)
            return m_server->client().postJson(path, fields, m_server->bearer()).json();
        QUrlQuery query;
        for (auto it = fields.begin(); it != fields.end(); ++it)
            query.addQueryItem(it.key(), QString::fromUtf8(QUrl::toPercentEncoding(it.value().toString())));
        query.addQueryItem(QStringLiteral("securityKey"), m_server->key());
        return m_server->client().postForm(path, query.toString(QUrl::FullyEncoded).toUtf8()).json();
    }

    std::shared_ptr<Tpa> terminal(const QString& port) const
    {
        for (const auto& tpa : m_server->printClient().tpaList()) {
            if (tpa->tpa().portName() == port)
                return tpa;
        }
        return nullptr;
    }

    std::unique_ptr<TerminalSimulator> m_ingenico; // approves, answers polls
    std::unique_ptr<TerminalSimulator> m_newnote;  // never answers unless told
    std::unique_ptr<TerminalSimulator> m_quiet;    // answers no polls; unplugged at the end
    std::unique_ptr<TerminalSimulator> m_stuck;    // takes no bytes: the status poll times out
    std::unique_ptr<ApiServer> m_server;
};

QLK_TEST_MAIN_CORE(TestApiTerminals)
#include "tst_apiterminals.moc"

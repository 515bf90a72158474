// Terminal commands through the web API to a terminal on a pseudo-terminal.
#include "support/ApiServer.h"
#include "support/TerminalTestSupport.h"
#include "support/TestMain.h"

#include "api/TpaEndpoints.h"
#include "core/PrintClient.h"
#include "terminals/Tpa.h"
#include "terminals/TpaStatus.h"

#include <atomic>
#include <thread>

class TestTpaCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.open(), qPrintable(m_sim.errorString()));
        m_sim.setStepInterval(5);
        qputenv(SerialPortDescription::SimulatedPortsVariable, (m_sim.portPath() + "=0B00:0060").toUtf8());
        m_server = std::make_unique<ApiServer>();
        QVERIFY2(m_server->isValid(), qPrintable(m_server->errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(terminal() && terminal()->lastStatus() == QStringLiteral("M00000"), 15000);
    }

    // Fields the terminal cannot carry are refused with nothing sent; the others as it reads them.
    void fields_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QJsonObject>("fields");
        QTest::addColumn<QString>("refusal"); // empty: sent
        QTest::addColumn<QByteArray>("message");
        const QString amount = TpaStatus::InvalidAmount, reference = TpaStatus::InvalidReference,
                      dateTime = TpaStatus::InvalidDateTime;
        const auto purchase = [](const char* name, const QJsonValue& value, const QString& refusal,
                                 const QByteArray& digits = {}, const QString& caller = {}) {
            QTest::newRow(name) << QByteArray("/sendTpaPurchase")
                                << QJsonObject{{"amount", value},
                                               {"terminal_tpa_id", caller.isEmpty() ? QJsonValue() : caller}}
                                << refusal << (digits.isEmpty() ? QByteArray() : "P051001333049782" + digits);
        };
        purchase("8 digits", "999.999,99", {}, "99999999");
        purchase("9 digits overflow the field", "100000000", amount);
        for (const char* refused : {"abc", "-5", "1e3", "", ".,", "12 50"})
            purchase(qPrintable(QStringLiteral("amount '%1'").arg(refused)), refused, amount);
        purchase("a JSON number is no text", 12.5, amount);
        purchase("digits of another script", QStringLiteral("\u0661\u0662"), amount);
        // The message: amount 12,50, then the reference and the date-time as sent.
        const auto refund = [](const char* name, const QString& ref, const QString& when, const QString& refusal) {
            QTest::newRow(name) << QByteArray("/sendTpaRefund")
                                << QJsonObject{{"amount", "12,50"}, {"tpa_id", ref}, {"datetime", when}} << refusal
                                << (refusal.isEmpty() ? "P06100133302978200001250" + ref.toUtf8() + "20240301140509"
                                                      : QByteArray());
        };
        const QString when = QStringLiteral("2024-03-01 14:05:09");
        refund("refund, reference of 32 with a space and a slash", "REF 123/x" + QString(23, 'R'), when, {});
        refund("refund, reference of 33", QString(33, 'R'), when, reference);
        refund("refund, ETX in the reference", QStringLiteral("AB") + QChar(0x03) + "CD", when, reference);
        refund("refund, accent in the reference", QStringLiteral("Ref\u00e9"), when, reference);
        for (const char* refused : {"2024-03-01 14:05", "2024-03-01T14:05:09", "", "2024-03-0a 14:05:09"})
            refund(qPrintable("refund at " + QString(refused)), "REF1", refused, dateTime);
        // The caller id is kept with the caller's messages.
        purchase("5 cents, caller id of 64", "5", {}, "00000005", QString(64, 'c'));
        purchase("caller id of 65", "5", TpaStatus::InvalidCaller, {}, QString(65, 'c'));
    }
    void fields()
    {
        QFETCH(QByteArray, path);
        QFETCH(QJsonObject, fields);
        QFETCH(QString, refusal);
        QFETCH(QByteArray, message);
        fields.insert("tpa_port", m_sim.portPath());
        fields.insert("terminal_tpa_id", fields.value("terminal_tpa_id").toString("till-1"));
        const int before = commands().size();
        const QJsonObject reply = m_server->client().postJson(path, fields, m_server->bearer()).json();
        QCOMPARE(reply.value(QStringLiteral("status")), QJsonValue(refusal.isEmpty()));
        QCOMPARE(reply.value(QStringLiteral("error")).toString(), refusal);
        QTest::qWait(300); // a refused command that went out would be on the line by now (the sent rows show it)
        QTRY_COMPARE_WITH_TIMEOUT(commands().mid(before), message.isEmpty() ? QList<QByteArray>() : QList{message},
                                  10000);
        QTRY_VERIFY_WITH_TIMEOUT(!terminal()->isInTransaction(), 10000);
    }

    // Two tills buy at the same instant, without the API lock: one is sent, the other told busy.
    void samePurchaseInstant()
    {
        const QString amount = QString(1000000, '.') + "1.00"; // separators, dropped slowly: the two meet more often
        const int sentBefore = commands().size();
        for (int round = 0; round < 100; ++round) {
            QString answers[2];
            std::atomic<int> waiting{2};
            const auto till = [&](int index) {
                QJsonObject result;
                for (--waiting; waiting.load() > 0;) // both threads leave together
                    ;
                TpaEndpoints(&m_server->printClient())
                    .sendCommand(result, TpaEndpoints::Purchase, m_sim.portPath(), QStringLiteral("till-%1").arg(index),
                                 {}, {}, amount);
                answers[index] = result.value(QStringLiteral("data")).toString();
            };
            std::thread first(till, 0), second(till, 1);
            first.join();
            second.join();
            const QSet<QString> got{answers[0], answers[1]};
            QVERIFY2(got == (QSet<QString>{TpaStatus::PurchaseSent, TpaStatus::Busy}),
                     qPrintable(QStringLiteral("round %1: %2 and %3").arg(round).arg(answers[0], answers[1])));
            QVERIFY(QTest::qWaitFor(
                [&] { return commands().size() > sentBefore + round && !terminal()->isInTransaction(); }, 10000));
            QCOMPARE(commands().size(), sentBefore + round + 1);
            // The winner reads its own transaction, to the terminal's approval.
            const QStringList statuses = terminal()->takeTransactionStatuses(
                QStringLiteral("till-%1").arg(answers[0] == TpaStatus::PurchaseSent ? 0 : 1));
            QCOMPARE(statuses.value(0), TpaStatus::CommandAdded);
            QCOMPARE(statuses.value(statuses.size() - 1), QStringLiteral("P1510000000100"));
        }
    }

private:
    std::shared_ptr<Tpa> terminal() const { return m_server->printClient().tpaList().value(0); }
    // The commands the terminal has received (status polls and the M025 confirmations left out).
    QList<QByteArray> commands() const
    {
        QList<QByteArray> found;
        for (const QByteArray& message : m_sim.messages())
            if (message != TerminalSimulator::statusRequest(1) && message != "M025000")
                found << message;
        return found;
    }

    TerminalSimulator m_sim{1};
    std::unique_ptr<ApiServer> m_server; // goes first, before the terminal
};

QLK_TEST_MAIN_CORE(TestTpaCommands)
#include "tst_tpacommands.moc"

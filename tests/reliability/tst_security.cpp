// Hostile callers of the local API: keys that are guessed, missing or nearly
// right on every path; origins that only look like the web application's;
// requests too large to take. Also that new keys are unguessable in practice.

#include "support/ApiServer.h"
#include "support/HttpTestRig.h"
#include "support/TestMain.h"

#include "app/SafeJson.h"
#include "core/PrintClient.h"

#include <QSet>
#include <QUrl>

namespace {
const QList<QByteArray> Routes = {
    "/getPrinters",
    "/getPrinterStatus",
    "/sendJob",
    "/setNotificationOrder",
    "/getStatus",
    "/getTpas",
    "/getTpaStatus",
    "/getTpaTransactionStatus",
    "/sendTpaOpen",
    "/clearTpaTransactionStatus",
    "/sendTpaClose",
    "/sendTpaRefund",
    "/sendTpaPurchase",
    "/sendTpaOpenMenu",
    "/sendTpaReprintLastReceipt",
    "/unknown",
    "/getStatus/x",
    "/favicon.ico",
};
// Request bodies and whether they repeat a key.
const QList<QPair<QByteArray, bool>> JsonBodies = {
    {R"([{"a": 1}, {"a": 2}])", false},
    {"{\"a\": \"\\\"a\\\": 1, \\\"a\\\": 2\"}", false}, // {"a": "\"a\": 1, \"a\": 2"}
    {R"({"job": [{"op": "text", "data": [1], "data": "x"}]})", true},
    {R"({"a": [1], "\u0061": 2})", true},
    {R"({"a": {"a": 1, "b": 2}, "c": 1, "a": 3})", true},
};
const QString Alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
} // namespace

class TestSecurity : public QObject
{
    Q_OBJECT
    std::unique_ptr<ApiServer> m_server;

private slots:
    void initTestCase()
    {
        m_server = std::make_unique<ApiServer>();
        QVERIFY2(m_server->isValid(), qPrintable(m_server->errorString()));
    }
    void cleanupTestCase() { m_server.reset(); }

    void generatedKeys()
    {
        constexpr int Count = 10000;
        QSet<QString> keys;
        QHash<QChar, int> frequency;
        for (int i = 0; i < Count; ++i) {
            const QString key = PrintClient::newSecurityKey();
            QVERIFY2(key.size() == 12 && key.endsWith(QLatin1String("v4.0")), qPrintable(key));
            for (const QChar c : key.left(8)) {
                QVERIFY2(Alphabet.contains(c), qPrintable(key));
                ++frequency[c];
            }
            keys.insert(key);
        }
        QCOMPARE(keys.size(), Count);
        // Chi-square of the 80000 characters over the 62 symbols (61 degrees of
        // freedom: mean 61, deviation 11). Above 140 happens by chance about once
        // in 10^7 runs; a skewed draw (modulo bias, a missing letter) lands far above.
        const double expected = 8.0 * Count / Alphabet.size();
        double chiSquare = 0;
        for (const QChar c : Alphabet)
            chiSquare += (frequency.value(c) - expected) * (frequency.value(c) - expected) / expected;
        qInfo("keys: %d distinct, chi-square %.1f over %d symbols", int(keys.size()), chiSquare, int(Alphabet.size()));
        QVERIFY2(chiSquare < 140, qPrintable(QString::number(chiSquare)));
    }

    void keyRefused_data()
    {
        QTest::addColumn<QByteArray>("how");
        QTest::addColumn<QByteArray>("key");
        const QByteArray key = ApiServer::defaultKey().toUtf8();
        const QList<QPair<const char*, QByteArray>> keys = {
            {"missing", QByteArray()},     {"empty", ""},
            {"prefix", key.left(11)},      {"longer", key + "x"},
            {"other case", key.toLower()}, {"old style", "aGVsbG8v4.0"},
        };
        for (const auto& k : keys) {
            QTest::addRow("bearer %s", k.first) << QByteArray("Bearer ") << k.second;
            QTest::addRow("parameter %s", k.first) << QByteArray() << k.second;
        }
        QTest::addRow("bearer without space") << QByteArray("Bearer") << key;
        QTest::addRow("basic scheme") << QByteArray("Basic ") << key;
    }

    void keyRefused()
    {
        QFETCH(QByteArray, how);
        QFETCH(QByteArray, key);
        for (const QByteArray& route : Routes) {
            for (const QByteArray& path : {route, route + '/'}) {
                ApiHeaders headers;
                QByteArray target = path;
                if (!how.isNull() && !key.isNull())
                    headers.append({"Authorization", how + key});
                else if (!key.isNull())
                    target += "?securityKey=" + QUrl::toPercentEncoding(QString::fromUtf8(key));
                for (const QByteArray& method : {QByteArray("GET"), QByteArray("POST")}) {
                    const ApiReply reply = m_server->client().request(method, target, headers);
                    QVERIFY2(reply.status == 401, qPrintable(method + ' ' + target));
                    QCOMPARE(reply.json().value("error").toString(), QStringLiteral("Invalid security key"));
                }
            }
        }
        // The right key still opens it, and "/" and the preflight need none.
        QCOMPARE(m_server->client().get("/getStatus", m_server->bearer()).status, 200);
        QCOMPARE(m_server->client().get("/").status, 200);
        QCOMPARE(m_server->client().request("OPTIONS", "/sendJob").status, 200);
    }

    void origin_data()
    {
        QTest::addColumn<QByteArray>("origin");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("own domain") << QByteArray("https://quorva.pt") << true;
        QTest::newRow("subdomain") << QByteArray("https://app.quorva.pt") << true;
        QTest::newRow("deep subdomain with port") << QByteArray("https://a.b.quorvapos.com:8443") << true;
        QTest::newRow("localhost") << QByteArray("http://localhost") << true;
        QTest::newRow("localhost with port") << QByteArray("http://localhost:3000") << true;
        QTest::newRow("suffix without dot") << QByteArray("https://evilquorva.pt") << false;
        QTest::newRow("domain as a label") << QByteArray("https://quorva.pt.evil.example") << false;
        QTest::newRow("localhost as a label") << QByteArray("http://localhost.evil.example") << false;
        QTest::newRow("localhost prefix") << QByteArray("http://localhostevil") << false;
        QTest::newRow("userinfo") << QByteArray("https://quorva.pt@evil.example") << false;
        QTest::newRow("path") << QByteArray("https://evil.example/quorva.pt") << false;
        QTest::newRow("null") << QByteArray("null") << false;
        QTest::newRow("other scheme") << QByteArray("file://quorva.pt") << false;
    }

    void origin()
    {
        QFETCH(QByteArray, origin);
        QFETCH(bool, allowed);
        const ApiReply reply =
            m_server->client().get("/getStatus", m_server->bearer() + ApiHeaders{{"Origin", origin}});
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.header("Access-Control-Allow-Origin"), allowed ? origin : QByteArray("https://app.quorva.pt"));
    }

    void oversized_data()
    {
        QTest::addColumn<QByteArray>("request");
        const QByteArray head = "POST /sendJob HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " +
                                ApiServer::defaultKey().toUtf8() + "\r\nContent-Length: ";
        const int size = 5 * 1024 * 1024;
        QTest::newRow("body") << QByteArray(head + QByteArray::number(size) + "\r\n\r\n" + QByteArray(size, 'a'));
        QTest::newRow("announced only") << QByteArray(head + "999999999999\r\n\r\nabc");
        QByteArray headers;
        for (int i = 0; headers.size() < size; ++i)
            headers += "X-Filler-" + QByteArray::number(i) + ": " + QByteArray(1000, 'h') + "\r\n";
        QTest::newRow("headers") << QByteArray("GET /getStatus HTTP/1.1\r\n" + headers + "\r\n");
        QTest::newRow("request line") << QByteArray("GET /" + QByteArray(size, 'p') + " HTTP/1.1\r\n\r\n");
    }

    void oversized()
    {
        QFETCH(QByteArray, request);
        // A blocking client on this thread would stall the server that lives here:
        // write from a helper thread and let this one run the event loop.
        QByteArray answer;
        std::unique_ptr<QThread> writer(QThread::create([this, &request, &answer]() {
            HttpTestClient client(true);
            if (client.connectTo(m_server->port()) && client.socket().write(request) == request.size())
                answer = client.readUntilClosed(60000);
        }));
        writer->start();
        QTRY_VERIFY_WITH_TIMEOUT(writer->isFinished(), 90000);
        QVERIFY2(answer.startsWith("HTTP/1.1 413"), answer.left(200).constData());
        // The server goes on serving.
        const ApiReply reply = m_server->client().get("/getStatus", m_server->bearer());
        QCOMPARE(reply.json().value("status").toBool(), true);
    }

    // Qt's parser leaks the earlier value of a repeated key: such request
    // bodies are malformed JSON, before any key check.
    void repeatedKeys_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("repeated");
        for (const auto& body : JsonBodies)
            QTest::addRow("%s", body.first.constData()) << body.first << body.second;
    }

    void repeatedKeys()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, repeated);
        QJsonParseError error;
        QCOMPARE(SafeJson::parse(json, &error).isNull(), repeated);
        QCOMPARE(error.error != QJsonParseError::NoError, repeated);
        const ApiReply reply = m_server->client().postJson("/getStatus", json, m_server->bearer());
        QCOMPARE(reply.json().value("error").toString(), repeated ? QStringLiteral("Invalid Json") : QString());
    }
};

QLK_TEST_MAIN_CORE(TestSecurity)
#include "tst_security.moc"

// Clients that hold the server's threads: connections that say nothing or
// trickle their bytes, and a client that asks for a large answer and never
// reads it. Each may cost a thread until its deadline, never for longer; one
// host of the network holds a share of the threads only, and never the others' service.
// Requests whose header section is too large are refused; a client that sends
// without reading costs bounded memory and never the API lock; switching the
// service off does not wait for any client.

#include "support/ApiServer.h"
#include "support/CapturePrinter.h"
#include "support/HttpTestRig.h"
#include "support/ImageServer.h"
#include "support/TestMain.h"

#include "core/PrintClient.h"
#include "printing/Printer.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QNetworkInterface>

class TestServerFaults : public QObject
{
    Q_OBJECT
    // Long enough that a loaded machine sets up the silent connections well within it.
    static constexpr int ReadTimeoutMs = 4000;
    // The slow clients' test: well apart, so that the deadline that closes a client is known.
    static constexpr int SlowReadTimeoutMs = 6000;
    static constexpr int HeaderTimeoutMs = 2000;

    static QVariantMap settings(int maxThreads)
    {
        QVariantMap map{{"maxThreads", maxThreads}, {"readTimeout", ReadTimeoutMs}, {"cleanupInterval", 60000}};
        map.insert(HttpTestServer::tls());
        return map;
    }

    static const QByteArray& tooLarge()
    {
        static const QByteArray text =
            "HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too large\r\n";
        return text;
    }

    // An address of this computer on its network, from which it is a host of
    // the network to its own server; null when it has none.
    static QHostAddress networkAddress()
    {
        const QList<QHostAddress> addresses = QNetworkInterface::allAddresses();
        for (const auto protocol : {QAbstractSocket::IPv4Protocol, QAbstractSocket::IPv6Protocol}) {
            for (const QHostAddress& address : addresses) {
                if (address.protocol() == protocol && !address.isLoopback() && !address.isLinkLocal())
                    return address;
            }
        }
        return QHostAddress();
    }

    // A line of /proc/PID/status, in KiB.
    static qint64 memoryKiB(qint64 pid, const char* field)
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith(field))
                return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
        }
        return -1;
    }

    // A TLS client driven by the event loop of the test's thread, which also
    // runs an in-process server.
    static std::unique_ptr<QSslSocket> connectEncrypted(quint16 port)
    {
        auto socket = std::make_unique<QSslSocket>();
        socket->setPeerVerifyMode(QSslSocket::VerifyNone);
        socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        if (!QTest::qWaitFor([&] { return socket->isEncrypted(); }, 10000))
            return nullptr;
        return socket;
    }

private slots:
    void silentConnections()
    {
        HttpTestServer server(settings(20));
        // 20 connections that never start TLS take every thread of the pool.
        std::vector<std::unique_ptr<QTcpSocket>> silent(20);
        for (auto& socket : silent) {
            socket = std::make_unique<QTcpSocket>();
            socket->connectToHost(QStringLiteral("127.0.0.1"), server.port());
            QVERIFY(socket->waitForConnected(10000));
        }
        QTRY_COMPARE_WITH_TIMEOUT(server.poolSize(), 20, 10000);
        // The next client is refused at once with the fixed text (plain, also
        // on a TLS server), not left waiting.
        QTest::ignoreMessage(QtDebugMsg, "HttpListener: Too many incoming connections");
        HttpTestClient refused(false);
        QVERIFY(refused.connectTo(server.port()));
        QCOMPARE(refused.readUntilClosed(),
                 QByteArray("HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\nToo many connections\r\n"));
        // Once readTimeout has closed the silent ones, a real client is served.
        HttpTestResponse response;
        QVERIFY(HttpTestClient::askUntilServed(server.port(), true, HttpTestClient::get("/after"), &response,
                                               10 * ReadTimeoutMs));
        QCOMPARE(response.body, QByteArray("GET /after"));
        for (auto& socket : silent)
            QVERIFY(socket->state() == QAbstractSocket::UnconnectedState || socket->waitForDisconnected(20000));
        QCOMPARE(server.poolSize(), 20); // the threads are reused, not replaced
    }

    // Twenty slow clients of one host of the network: at most 8 get a thread, each
    // is closed at its deadline however its bytes trickle in, and this computer
    // is served meanwhile.
    void slowClients_data()
    {
        QTest::addColumn<QByteArray>("opening"); // then a byte every 100 ms; none: silent
        QTest::addColumn<bool>("tls");
        QTest::addColumn<int>("deadlineMs");
        QTest::newRow("trickled body") << QByteArray("POST /b HTTP/1.1\r\nContent-Length: 10000\r\n\r\n") << true
                                       << SlowReadTimeoutMs;
        QTest::newRow("trickled headers") << QByteArray("GET /h HTTP/1.1\r\n") << true << HeaderTimeoutMs;
        QTest::newRow("no TLS handshake") << QByteArray() << false << HeaderTimeoutMs;
    }

    void slowClients()
    {
        QFETCH(QByteArray, opening);
        QFETCH(bool, tls);
        QFETCH(int, deadlineMs);
        const QHostAddress lan = networkAddress();
        if (lan.isNull()) {
            const char* why = "this computer has no network address to be a host of the network from";
            if (qgetenv("CI") == "true")
                QFAIL(why);
            QSKIP(why);
        }
        QVariantMap map = settings(20);
        map.insert("readTimeout", SlowReadTimeoutMs);
        map.insert("headerTimeout", HeaderTimeoutMs);
        HttpTestServer server(map);
        QElapsedTimer clock;
        clock.start();
        std::vector<std::unique_ptr<QSslSocket>> clients(20);
        for (auto& client : clients) {
            client = std::make_unique<QSslSocket>();
            client->setPeerVerifyMode(QSslSocket::VerifyNone);
            if (tls)
                client->connectToHostEncrypted(lan.toString(), server.port());
            else
                client->connectToHost(lan.toString(), server.port());
            client->write(opening); // a TLS socket sends it once encrypted
        }
        QVector<qint64> closedAt(int(clients.size()), -1);
        const auto trickle = [&](qint64 untilMs) {
            while (clock.elapsed() < untilMs && closedAt.contains(-1)) {
                QTest::qWait(100);
                for (int i = 0; i < int(clients.size()); ++i) {
                    if (closedAt[i] < 0 && clients[i]->state() == QAbstractSocket::UnconnectedState)
                        closedAt[i] = clock.elapsed();
                    else if (closedAt[i] < 0 && !opening.isEmpty() && clients[i]->isEncrypted())
                        clients[i]->write("x");
                }
            }
        };
        trickle(HeaderTimeoutMs / 2);
        // The server's own computer is served while that host holds what it may.
        HttpTestClient till(true);
        QVERIFY(till.connectTo(server.port()));
        QVERIFY(till.send(HttpTestClient::get("/till")));
        QCOMPARE(till.readResponse().body, QByteArray("GET /till"));
        trickle(deadlineMs + 2500);
        int held = 0;
        for (const qint64 at : qAsConst(closedAt)) {
            // The others were refused at once.
            if (at < 0 || at >= HeaderTimeoutMs / 2) {
                ++held;
                QVERIFY2(at >= deadlineMs - 200 && at <= deadlineMs + 2500,
                         qPrintable(QStringLiteral("closed after %1 ms").arg(at)));
            }
        }
        QCOMPARE(held, 8);
    }

    void clientNeverReads()
    {
        // One thread only: unless the stuck answer lets go of it, nobody else is served.
        HttpTestServer server(settings(1));
        // 32 MiB answer to a client that never reads: far more than socket buffers hold.
        HttpTestClient stuck(true);
        QVERIFY(stuck.connectTo(server.port()));
        stuck.socket().setReadBufferSize(4096);
        QVERIFY(stuck.send(HttpTestClient::get("/big?parts=512")));
        QTRY_COMPARE_WITH_TIMEOUT(server.handler()->served.load(), 1, 10000);
        HttpTestResponse response;
        auto client = HttpTestClient::askUntilServed(server.port(), true, HttpTestClient::get("/next"), &response,
                                                     15 * ReadTimeoutMs);
        QVERIFY(client);
        QCOMPARE(response.body, QByteArray("GET /next"));
        // And the server goes on: a keep-alive request on the same connection.
        QVERIFY(client->send(HttpTestClient::get("/again")));
        QCOMPARE(client->readResponse().body, QByteArray("GET /again"));
    }

    // Over TLS, with the program's limits: the header section, the parameters and
    // the multipart parts have limits of their own, and a bounded read buffer still
    // lets a large body through; what the server does not read is refused, not misread.
    void limits_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("refusal"); // empty: served
        QByteArray fields;
        for (int i = 0; i < 100; ++i)
            fields += "X-" + QByteArray::number(i) + ": v\r\n";
        const QByteArray get = "GET /h HTTP/1.1\r\n";
        const QByteArray refused = tooLarge();
        QTest::newRow("100 header fields") << get + fields + "\r\n" << QByteArray();
        QTest::newRow("101 header fields") << get + fields + "Y: v\r\n\r\n" << refused;
        QTest::newRow("65 KiB of headers") << get + "X: " + QByteArray(65 * 1024, 'v') + "\r\n\r\n" << refused;
        QTest::newRow("30,000 continuation lines") << get + "X: v\r\n" + QByteArray(" c\r\n").repeated(30000) + "\r\n"
                                                   << refused;
        const auto post = [](const QByteArray& type, const QByteArray& body) {
            return "POST /h HTTP/1.1\r\nContent-Type: " + type +
                   "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        };
        QTest::newRow("1 MiB body") << post("text/plain", QByteArray(1 << 20, 'b')) << QByteArray();
        QTest::newRow("2,000,000 parameters")
            << post("application/x-www-form-urlencoded", QByteArray("a&").repeated(2000000)) << refused;
        QByteArray files;
        for (int i = 0; i < 5; ++i)
            files += "--b\r\nContent-Disposition: form-data; name=\"f\"; filename=\"x\"\r\n\r\nz\r\n";
        QTest::newRow("5 uploaded files") << post("multipart/form-data; boundary=b", files + "--b--\r\n") << refused;
        QTest::newRow("chunked body") << QByteArray("POST /h HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
                                                    "5\r\nGET /\r\n0\r\n\r\n")
                                      << QByteArray("HTTP/1.1 411 length required\r\nConnection: close\r\n\r\n"
                                                    "411 Length required\r\n");
        QTest::newRow("broken request line")
            << QByteArray("HELLO\r\n\r\n")
            << QByteArray("HTTP/1.1 400 bad request\r\nConnection: close\r\n\r\n400 Bad request\r\n");
    }

    void limits()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, refusal);
        QVariantMap map = settings(2);
        map.insert("maxRequestSize", 4 << 20);
        map.insert("maxMultiPartSize", 10000000);
        HttpTestServer server(map);
        HttpTestClient client(true);
        QVERIFY(client.connectTo(server.port()));
        if (!refusal.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("HttpRequest: "));
        QVERIFY(client.send(request));
        if (!refusal.isEmpty()) {
            QCOMPARE(client.readUntilClosed(30000), refusal);
            QCOMPARE(server.handler()->served.load(), 0);
        } else {
            const HttpTestResponse response = client.readResponse(30000);
            QCOMPARE(response.status, 200);
            QVERIFY(response.body.startsWith(request.left(6)));
        }
    }

    // A client that pipelines requests for the status page without reading the
    // answers, then streams junk: the server's memory stays bounded, and a keyed
    // request on another connection is answered meanwhile (the API lock is not
    // held while an answer waits for its reader).
    void nonReadingPipeliner()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); // thousands of answers
        ApiServer server;
        QVERIFY2(server.isValid(), qPrintable(server.errorString()));
        const QByteArray status =
            HttpTestClient::get("/getStatus", "Authorization: Bearer " + server.keyBytes() + "\r\n");
        const auto keyedAnswer = [&]() {
            const auto client = connectEncrypted(server.port());
            if (!client)
                return false;
            client->write(status);
            QByteArray answer;
            return QTest::qWaitFor(
                [&] {
                    answer += client->readAll();
                    return answer.contains("\"status\": true");
                },
                10000);
        };
        QVERIFY(keyedAnswer());
        const qint64 before = memoryKiB(QCoreApplication::applicationPid(), "VmRSS:");

        const auto attacker = connectEncrypted(server.port());
        QVERIFY(attacker);
        attacker->setReadBufferSize(4096); // reads nothing the test does not ask for
        attacker->write(QByteArray("GET / HTTP/1.1\r\nHost: localhost\r\n\r\n").repeated(20000));
        const QByteArray junk(65536, 'j');
        qint64 peak = before;
        const auto stream = [&](int ms) {
            for (const QDeadlineTimer end(ms); !end.hasExpired(); QTest::qWait(5)) {
                // The attacker's own buffer stays small; what the server takes is what counts.
                if (HttpResponseWriter::pendingOutput(attacker.get()) < (1 << 20))
                    attacker->write(junk);
                peak = qMax(peak, memoryKiB(QCoreApplication::applicationPid(), "VmRSS:"));
            }
        };
        stream(1500);
        QVERIFY2(keyedAnswer(), "a keyed request went unanswered during the attack");
        stream(1500);
        QVERIFY2(keyedAnswer(), "a keyed request went unanswered during the attack");
        qInfo("resident before %lld KiB, peak during the attack %lld KiB", before, peak);
        // The sanitizers hold freed memory back: no bound to check there.
        if (qEnvironmentVariableIsEmpty("QLK_SANITIZER")) {
            QVERIFY(before > 0 && peak > 0);
            QVERIFY2(peak - before < 64 * 1024, qPrintable(QStringLiteral("grew by %1 KiB").arg(peak - before)));
        }
    }

    // Switched off (as the window and the tray do) while one client never reads
    // its answers, one waits for an image download under the API lock, one
    // waits for the lock, and two keyless requests have just been sent whose
    // parsing could take long (100,000 file parts, 2,000,000 parameters): it
    // returns at once, and the job in progress is cancelled, not printed in part.
    void switchedOffWhileClientsHold()
    {
        QLK_REQUIRE_CUPS();
        // Debug lines too (the download's end is one), but only those of the job reach the output.
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=true"));
        CapturePrinter printer(QStringLiteral("qlk-switchoff"));
        QVERIFY2(printer.isValid(), qPrintable(printer.errorString()));
        ApiServer server;
        QVERIFY2(server.isValid(), qPrintable(server.errorString()));
        const auto target = [&]() {
            for (const auto& candidate : server.printClient().printerList()) {
                if (candidate->name() == printer.queueName())
                    return candidate;
            }
            return std::shared_ptr<Printer>();
        };
        QTRY_VERIFY_WITH_TIMEOUT(target(), 15000);
        target()->setAvailable(true);
        ImageServer images;
        QVERIFY(images.start());
        images.serve(QStringLiteral("/silent.png"), {}, 0);

        static QStringList logged;
        static QtMessageHandler previous = nullptr;
        previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            if (text.startsWith("ImageLoader:") || text.startsWith("PrintJob:")) {
                logged << text;
                previous(type, context, text);
            }
        });
        const QByteArray auth = "Authorization: Bearer " + server.keyBytes() + "\r\n";
        const auto keyed = [&](QSslSocket* socket, const QByteArray& path, const QByteArray& json) {
            socket->write("POST " + path + " HTTP/1.1\r\nContent-Type: application/json\r\n" + auth +
                          "Content-Length: " + QByteArray::number(json.size()) + "\r\n\r\n" + json);
        };
        // Its answers fill the socket buffers: its thread waits for it to read.
        const auto reader = connectEncrypted(server.port());
        QVERIFY(reader);
        reader->setReadBufferSize(4096);
        reader->write(QByteArray("GET / HTTP/1.1\r\n\r\n").repeated(20000));
        QTest::qWait(1500);
        // The lock is free for the job: its download begins.
        const auto job = connectEncrypted(server.port());
        QVERIFY(job);
        const QJsonArray operations{QJsonObject{{"op", "text"}, {"data", "before\n"}},
                                    QJsonObject{{"op", "image"}, {"data", images.url("/silent.png")}},
                                    QJsonObject{{"op", "text"}, {"data", "after\n"}}};
        keyed(job.get(), "/sendJob",
              QJsonDocument(QJsonObject{{"printer", printer.queueName()}, {"job", operations}}).toJson());
        QTRY_COMPARE_WITH_TIMEOUT(images.requests(), 1, 15000);
        const auto waiting = connectEncrypted(server.port());
        QVERIFY(waiting);
        keyed(waiting.get(), "/getStatus", "{}");
        QTest::qWait(500);
        QByteArray files;
        for (int i = 0; i < 100000; ++i)
            files += "--b\r\nContent-Disposition: form-data; name=\"f" + QByteArray::number(i) +
                     "\"; filename=\"x\"\r\n\r\nz\r\n";
        const QByteArray parameters = QByteArray("a&").repeated(2000000);
        std::vector<std::unique_ptr<QSslSocket>> parsed;
        for (const auto& [type, body] :
             {std::make_pair(QByteArray("multipart/form-data; boundary=b"), files + "--b--\r\n"),
              std::make_pair(QByteArray("application/x-www-form-urlencoded"), parameters)}) {
            parsed.push_back(connectEncrypted(server.port()));
            QVERIFY(parsed.back());
            parsed.back()->write("POST /getStatus HTTP/1.1\r\nContent-Type: " + type +
                                 "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        }
        QVERIFY(QTest::qWaitFor(
            [&] {
                return std::all_of(parsed.cbegin(), parsed.cend(), [](const std::unique_ptr<QSslSocket>& socket) {
                    return socket->bytesToWrite() + socket->encryptedBytesToWrite() == 0;
                });
            },
            30000));

        QElapsedTimer elapsed;
        elapsed.start();
        server.printClient().setServerActive(false);
        const qint64 took = elapsed.elapsed();
        qInstallMessageHandler(previous);
        qInfo("switched off in %lld ms", took);
        // The clients' own limits are a minute (program) and 15 s (images): far off.
        QVERIFY2(took < 5000, qPrintable(QStringLiteral("switching off took %1 ms").arg(took)));
        for (const char* line : {"ImageLoader: download cancelled, the server is being switched off",
                                 "PrintJob: the server is being switched off; the job is cancelled"})
            QVERIFY2(logged.contains(line), qPrintable(logged.join('|')));
        QTest::qWait(2000);
        QVERIFY(printer.jobs().isEmpty());
    }
};

QLK_TEST_MAIN_CORE(TestServerFaults)
#include "tst_serverfaults.moc"

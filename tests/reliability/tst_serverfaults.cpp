// Clients that hold the server cost a bounded share of it for a bounded time; switching off waits for none.
#include "ReliabilityRig.h"
#include "support/ApiServer.h"
#include "support/CapturePrinter.h"
#include "support/ImageServer.h"
#include "support/TestMain.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QNetworkInterface>

class TestServerFaults : public QObject
{
    Q_OBJECT
    static constexpr int ReadTimeoutMs = 6000, HeaderTimeoutMs = 2000; // well apart: which deadline closes is known

    static QVariantMap settings(int maxThreads, int readTimeoutMs = ReadTimeoutMs)
    {
        QVariantMap map{{"maxThreads", maxThreads}, {"readTimeout", readTimeoutMs}, {"headerTimeout", HeaderTimeoutMs}};
        map.insert("cleanupInterval", 60000);
        map.insert(HttpTestServer::tls());
        return map;
    }
    // A TLS client on the test thread's event loop, which also runs an in-process server.
    static std::unique_ptr<QSslSocket> connectEncrypted(quint16 port, const QByteArray& request = {})
    {
        auto socket = std::make_unique<QSslSocket>();
        socket->setPeerVerifyMode(QSslSocket::VerifyNone);
        socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        if (!QTest::qWaitFor([&] { return socket->isEncrypted(); }, 10000))
            return nullptr;
        socket->write(request);
        return socket;
    }

private slots:
    // One network host gets 8 threads, this computer all 20, the rest a 503; each closed at its deadline.
    void slowClients_data()
    {
        QTest::addColumn<QByteArray>("opening"); // over TLS, then a byte every 100 ms; none: silent, no TLS
        QTest::addColumn<int>("deadlineMs");
        QTest::addColumn<bool>("network"); // else from loopback
        QTest::newRow("trickled body") << QByteArray("POST /b HTTP/1.1\r\nContent-Length: 10000\r\n\r\n")
                                       << ReadTimeoutMs << true;
        QTest::newRow("trickled headers") << QByteArray("GET /h HTTP/1.1\r\n") << HeaderTimeoutMs << true;
        QTest::newRow("no TLS handshake") << QByteArray() << HeaderTimeoutMs << true;
        QTest::newRow("pool full, no TLS handshake") << QByteArray() << HeaderTimeoutMs << false;
    }
    void slowClients()
    {
        QFETCH(QByteArray, opening);
        QFETCH(int, deadlineMs);
        QFETCH(bool, network);
        QHostAddress from = network ? QHostAddress() : QHostAddress(QHostAddress::LocalHost);
        for (const QHostAddress& address : QNetworkInterface::allAddresses())
            if (network && !address.isLoopback() && !address.isLinkLocal() &&
                (from.isNull() || from.protocol() != QAbstractSocket::IPv4Protocol))
                from = address;
        QLK_REQUIRE_PART(from.isNull() ? "this computer has no network address to be a host of the network from" : "");
        HttpTestServer server(settings(20));
        QElapsedTimer clock;
        clock.start();
        std::vector<std::unique_ptr<QSslSocket>> clients(network ? 20 : 24);
        for (auto& client : clients) {
            client = std::make_unique<QSslSocket>();
            client->setPeerVerifyMode(QSslSocket::VerifyNone);
            opening.isEmpty() ? client->connectToHost(from.toString(), server.port())
                              : client->connectToHostEncrypted(from.toString(), server.port());
            client->write(opening); // a TLS socket sends it once encrypted
        }
        QVector<qint64> closedAt(int(clients.size()), -1);
        const auto trickle = [&](qint64 untilMs) {
            while (clock.elapsed() < untilMs && closedAt.contains(-1)) {
                QTest::qWait(100);
                for (int i = 0; i < int(clients.size()); ++i) {
                    if (closedAt[i] < 0 && clients[i]->state() == QAbstractSocket::UnconnectedState)
                        closedAt[i] = clock.elapsed();
                    else if (closedAt[i] < 0 && clients[i]->isEncrypted())
                        clients[i]->write("x");
                }
            }
        };
        const auto tillServed = [&] {
            HttpTestClient till(true);
            return till.connectTo(server.port()) && till.send(HttpTestClient::get("/till")) &&
                   till.readResponse().body == "GET /till";
        };
        trickle(HeaderTimeoutMs / 2);
        QVERIFY(!network || tillServed());
        trickle(deadlineMs + 2500);
        int held = 0;
        for (int i = 0; i < int(clients.size()); ++i) {
            if (closedAt[i] < 0 || closedAt[i] >= HeaderTimeoutMs / 2) {
                ++held;
                QVERIFY2(closedAt[i] >= deadlineMs - 200 && closedAt[i] <= deadlineMs + 2500,
                         qPrintable(QString::number(closedAt[i])));
            } else if (opening.isEmpty()) { // refused at once, with the fixed text (plain, also on a TLS server)
                QCOMPARE(clients[i]->readAll(), QByteArray("HTTP/1.1 503 too many connections\r\nConnection: "
                                                           "close\r\n\r\nToo many connections\r\n"));
            }
        }
        QCOMPARE(held, network ? 8 : 20);
        QVERIFY(tillServed());
    }

    // One thread only: unless the write deadline lets go of a 32 MiB answer nobody reads, nobody else is served.
    void clientNeverReads()
    {
        HttpTestServer server(settings(1, 4000));
        HttpTestClient stuck(true);
        QVERIFY(stuck.connectTo(server.port()));
        stuck.socket().setReadBufferSize(4096);
        QVERIFY(stuck.send(HttpTestClient::get("/big?parts=512")));
        QTRY_COMPARE_WITH_TIMEOUT(server.handler()->served.load(), 1, 10000);
        HttpTestResponse response;
        QVERIFY(HttpTestClient::askUntilServed(server.port(), true, HttpTestClient::get("/next"), &response, 60000));
        QCOMPARE(response.body, QByteArray("GET /next"));
    }

    // A client that never reads: memory bounded, keyed requests answered; switching off is instant, job cancelled.
    void switchedOffWhileClientsHold()
    {
        QLK_REQUIRE_CUPS();
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=true")); // the download's end is a debug line
        CapturePrinter printer(QStringLiteral("qlk-switchoff"));
        QVERIFY2(printer.isValid(), qPrintable(printer.errorString()));
        ApiServer server;
        QTRY_VERIFY_WITH_TIMEOUT(server.isValid() && server.printer(printer.queueName()), 15000);
        server.printer(printer.queueName())->setAvailable(true);
        ImageServer images;
        QVERIFY(images.start());
        images.serve(QStringLiteral("/silent.png"), {}, 0);
        static QStringList logged;
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
                if (text.startsWith("ImageLoader:") || text.startsWith("PrintJob:"))
                    logged << text;
            });
        const auto keyedAnswer = [&] { return server.client().get("/getStatus", server.bearer()).status == 200; };
        QVERIFY(keyedAnswer());
        const qint64 before = Rig::residentKiB();
        const auto reader = connectEncrypted(server.port(), HttpTestClient::get("/").repeated(20000));
        QVERIFY(reader);
        reader->setReadBufferSize(4096); // reads nothing the test does not ask for
        qint64 peak = before;
        for (const QDeadlineTimer end(3000); !end.hasExpired(); QTest::qWait(5)) {
            // The reader's own buffer stays small; what the server takes is what counts.
            if (HttpResponseWriter::pendingOutput(reader.get()) < (1 << 20))
                reader->write(QByteArray(65536, 'j'));
            peak = qMax(peak, Rig::residentKiB());
        }
        QVERIFY2(keyedAnswer(), "a keyed request went unanswered during the attack");
        // The sanitizers hold freed memory back: no bound to check there.
        if (qEnvironmentVariableIsEmpty("QLK_SANITIZER"))
            QVERIFY2(before > 0 && peak - before < 64 * 1024,
                     qPrintable(QStringLiteral("grew by %1 KiB").arg(peak - before)));
        QJsonArray operations = Rig::receipt(QStringLiteral("switched off"), 2);
        operations.insert(1, QJsonObject{{"op", "image"}, {"data", images.url("/silent.png")}});
        const QByteArray auth = "Authorization: Bearer " + server.keyBytes() + "\r\n";
        const auto job = connectEncrypted(server.port(), Rig::sendJob(auth, printer.queueName(), operations));
        QTRY_COMPARE_WITH_TIMEOUT(images.requests(), 1, 15000);
        const auto waiting = connectEncrypted(server.port(), Rig::post("/getStatus", "application/json", "{}", auth));
        QTest::qWait(500);
        QByteArray files;
        for (int i = 0; i < 100000; ++i)
            files += "--b\r\nContent-Disposition: form-data; name=\"f" + QByteArray::number(i) +
                     "\"; filename=\"x\"\r\n\r\nz\r\n";
        std::unique_ptr<QSslSocket> parsed[] = {
            connectEncrypted(server.port(),
                             Rig::post("/getStatus", "multipart/form-data; boundary=b", files + "--b--\r\n")),
            connectEncrypted(server.port(), Rig::post("/getStatus", "application/x-www-form-urlencoded",
                                                      QByteArray("a&").repeated(2000000)))};
        QVERIFY(waiting && parsed[0] && parsed[1]);
        const auto sent = [](const auto& s) { return s->bytesToWrite() + s->encryptedBytesToWrite() == 0; };
        QVERIFY(QTest::qWaitFor([&] { return sent(parsed[0]) && sent(parsed[1]); }, 30000));
        QElapsedTimer clock;
        clock.start();
        server.printClient().setServerActive(false);
        // The clients' own limits are a minute (program) and 15 s (images): far off.
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QStringLiteral("switching off took %1 ms").arg(clock.elapsed())));
        qInstallMessageHandler(previous);
        for (const char* line : {"ImageLoader: download cancelled, the server is being switched off",
                                 "PrintJob: the server is being switched off; the job is cancelled"})
            QVERIFY2(logged.contains(line), qPrintable(logged.join('|')));
        QTest::qWait(2000);
        QVERIFY(printer.jobs().isEmpty());
    }
};

QLK_TEST_MAIN_CORE(TestServerFaults)
#include "tst_serverfaults.moc"

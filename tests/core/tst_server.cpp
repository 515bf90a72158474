#include "app/Resources.h"
#include "core/PrintClient.h"
#include "http/HttpListener.h"
#include "support/TestMain.h"

#include <QSettings>
#include <QSslSocket>

namespace {

// One HTTPS request over loopback; the status line of the answer, or empty.
QByteArray statusLine(quint16 port)
{
    QSslSocket socket;
    socket.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    QSignalSpy encrypted(&socket, &QSslSocket::encrypted);
    if (!encrypted.wait(10000))
        return {};
    socket.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    // The listener accepts on this thread: wait with an event loop, never blocking.
    QSignalSpy readable(&socket, &QSslSocket::readyRead);
    QByteArray answer;
    while (!answer.contains("\r\n") && (socket.bytesAvailable() > 0 || readable.wait(10000)))
        answer += socket.readAll();
    return answer.left(answer.indexOf("\r\n"));
}

} // namespace

class TestServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Resources::init(); }

    void init()
    {
        QSettings settings;
        settings.clear();
        settings.sync();
    }

    void listenerGroupRewrittenAtEveryStart()
    {
        {
            QSettings settings;
            settings.beginGroup("listener");
            settings.setValue("maxThreads", 1);
            settings.setValue("readTimeout", 5);
            settings.setValue("sslCertFile", "/tmp/other.cert");
            settings.endGroup();
            settings.setValue("serverActive", false);
            settings.sync();
        }
        PrintClient client;
        client.setListenerPort(0);
        client.init();
        QVERIFY(client.started());

        const QVariantMap expected{{"sslKeyFile", ":/ssl/qlk.key"},
                                   {"sslCertFile", ":/ssl/qlk.cert"},
                                   {"port", 0},
                                   {"minThreads", 4},
                                   {"maxThreads", 20},
                                   {"cleanupInterval", 60000},
                                   {"readTimeout", 60000},
                                   {"maxRequestSize", 4194304},
                                   {"maxMultiPartSize", 10000000}};
        QSettings settings;
        settings.beginGroup("listener");
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            QCOMPARE(settings.value(it.key()).toString(), it.value().toString());
        // Stored off: the server exists but does not listen.
        QVERIFY(client.listener());
        QVERIFY(!client.listener()->isListening());
    }

    void switchingTheServer()
    {
        PrintClient client;
        client.setListenerPort(0);
        client.init();
        QVERIFY(client.started());
        HttpListener* listener = client.listener();
        QVERIFY(listener && listener->isListening());
        // The web API's status page on "/".
        QCOMPARE(statusLine(listener->serverPort()), QByteArray("HTTP/1.1 200 OK"));

        QSignalSpy messages(&client, &PrintClient::messageChanged);
        QSignalSpy active(&client, &PrintClient::serverActiveChanged);
        client.setServerActive(false);
        QVERIFY(!listener->isListening());
        QCOMPARE(client.message(), QString("Serviço de impressão desligado"));
        QCOMPARE(QSettings().value("serverActive").toBool(), false);

        // Asking for the state it is in shows nothing, but still persists and announces.
        client.setServerActive(false);
        QCOMPARE(messages.count(), 1);
        QCOMPARE(active.count(), 2);

        client.setServerActive(true);
        QVERIFY(listener->isListening());
        QCOMPARE(client.message(), QString("Serviço de impressão ligado"));
        QCOMPARE(messages.count(), 2);
        QCOMPARE(QSettings().value("serverActive").toBool(), true);
        QCOMPARE(statusLine(listener->serverPort()), QByteArray("HTTP/1.1 200 OK"));
    }

    void acceptingTheTermsLaterStartsEverything()
    {
        QSettings().setValue("licenseAccepted", false);
        PrintClient client;
        client.setListenerPort(0);
        client.init();
        QVERIFY(!client.started());
        QVERIFY(!client.listener());

        QSignalSpy started(&client, &PrintClient::startedChanged);
        client.setProperty("licenseAccepted", true);
        QVERIFY(client.started());
        QCOMPARE(started.last().first().toBool(), true);
        QVERIFY(client.listener() && client.listener()->isListening());
        QCOMPARE(QSettings().value("licenseAccepted").toBool(), true);
        for (const QString& address : client.ipAddresses())
            QVERIFY2(!address.contains(':') && address != "127.0.0.1", qPrintable(address));

        // Accepting again builds no second server.
        HttpListener* listener = client.listener();
        client.setProperty("licenseAccepted", true);
        QCOMPARE(client.listener(), listener);
    }
};

QLK_TEST_MAIN_CORE(TestServer)
#include "tst_server.moc"

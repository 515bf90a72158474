#include "app/Resources.h"
#include "core/PrintClient.h"
#include "http/HttpListener.h"
#include "support/ApiClient.h"
#include "support/TestMain.h"

#include <QSettings>

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

        QSettings settings;
        settings.beginGroup("listener");
        for (const QString& pair :
             QStringLiteral("sslKeyFile=:/ssl/qlk.key sslCertFile=:/ssl/qlk.cert port=0 minThreads=4 "
                            "maxThreads=20 cleanupInterval=60000 readTimeout=60000 "
                            "maxRequestSize=4194304 maxMultiPartSize=10000000")
                 .split(' '))
            QCOMPARE(settings.value(pair.section('=', 0, 0)).toString(), pair.section('=', 1));
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
        QCOMPARE(ApiClient(listener->serverPort()).get("/").status, 200);

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
        QCOMPARE(ApiClient(listener->serverPort()).get("/").status, 200);
    }
};

QLK_TEST_MAIN_CORE(TestServer)
#include "tst_server.moc"

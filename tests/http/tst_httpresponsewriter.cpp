#include "support/TestMain.h"

#include "http/HttpResponseWriter.h"

#include <QTcpServer>
#include <QTcpSocket>

// The writer on one end of a loopback connection; the test reads the other.
class TestHttpResponseWriter : public QObject
{
    Q_OBJECT
    QTcpServer m_listener;
    QTcpSocket m_client;
    QTcpSocket* m_server = nullptr;

private slots:
    void init()
    {
        QVERIFY(m_listener.isListening() || m_listener.listen(QHostAddress::LocalHost));
        m_client.connectToHost(QHostAddress::LocalHost, m_listener.serverPort());
        QVERIFY(m_client.waitForConnected(10000) && m_listener.waitForNewConnection(10000));
        m_server = m_listener.nextPendingConnection();
    }
    void cleanup()
    {
        m_client.abort();
        delete m_server;
    }

    // Three responses, one after another on the connection.
    void writes()
    {
        HttpResponseWriter once(m_server);
        once.write("abc", true);
        once.write("more", true);
        HttpResponseWriter closing(m_server);
        closing.setHeader("connection", "Close");
        closing.write("ab");
        closing.write("c", true);
        // Headers in byte order; a name set again replaces the value, another case is another name.
        HttpResponseWriter r(m_server);
        r.setStatus(404, "Not Found");
        r.setHeader("X-A", "1");
        r.setHeader("Content-Type", "text/plain");
        r.setHeader("X-A", 2);
        r.setHeader("x-a", "3");
        r.write("x", true);
        const QByteArray expected =
            "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc"
            "HTTP/1.1 200 OK\r\nconnection: Close\r\n\r\nabc"
            "HTTP/1.1 404 Not Found\r\nContent-Length: 1\r\nContent-Type: text/plain\r\nX-A: 2\r\nx-a: 3\r\n\r\nx";
        QByteArray received; // the event loop sends the writer's bytes
        QTRY_COMPARE((received += m_client.readAll()), expected);
        QTest::qWait(100); // nothing may follow
        QCOMPARE(m_client.readAll(), QByteArray());
    }

    // A peer that reads nothing holds neither the final drain nor the writer past the timeout: it is disconnected.
    void peerThatStopsReading()
    {
        HttpResponseWriter response(m_server, 300);
        m_server->write(QByteArray(32 << 20, 'x'));
        QVERIFY(!HttpResponseWriter::drain(m_server, 300));
        // Far less than the 128 MiB offered goes out: the writer gives up rather than buffer it.
        for (int written = 0; written < 2048 && response.isConnected(); ++written)
            response.write(QByteArray(65536, 'x'));
        QVERIFY(!response.isConnected());
    }
};

QLK_TEST_MAIN_CORE(TestHttpResponseWriter)
#include "tst_httpresponsewriter.moc"

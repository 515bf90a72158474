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
        QTest::ignoreMessage(QtWarningMsg, "HttpResponseWriter: write after the last part ignored");
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
        // Chunked framing is checked end to end by the connection tests' long answers.
        const QByteArray expected =
            "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc"
            "HTTP/1.1 200 OK\r\nconnection: Close\r\n\r\nabc"
            "HTTP/1.1 404 Not Found\r\nContent-Length: 1\r\nContent-Type: text/plain\r\nX-A: 2\r\nx-a: 3\r\n\r\nx";
        QByteArray received;
        while (received.size() < expected.size() && m_client.waitForReadyRead(10000))
            received += m_client.readAll();
        QTest::qWait(100); // nothing may follow
        QCOMPARE(received + m_client.readAll(), expected);
    }

    // A peer that reads nothing holds neither the writer nor the final drain
    // before a close for more than the timeout: it is disconnected.
    void peerThatStopsReading_data()
    {
        QTest::addColumn<bool>("drain");
        QTest::newRow("writing parts") << false;
        QTest::newRow("draining before close") << true;
    }

    void peerThatStopsReading()
    {
        QFETCH(bool, drain);
        HttpResponseWriter response(m_server, 300);
        QTest::ignoreMessage(QtWarningMsg, "HttpResponseWriter: peer takes no data, connection aborted");
        if (drain) {
            m_server->write(QByteArray(32 << 20, 'x'));
            QVERIFY(!HttpResponseWriter::drain(m_server, 300));
        }
        // Far less than the 128 MiB offered goes out: the writer gives up rather than buffer it.
        for (int written = 0; written < 2048 && response.isConnected(); ++written)
            response.write(QByteArray(65536, 'x'));
        QVERIFY(!response.isConnected());
    }
};

QLK_TEST_MAIN_CORE(TestHttpResponseWriter)
#include "tst_httpresponsewriter.moc"

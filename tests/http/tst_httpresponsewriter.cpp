#include "support/HttpTestRig.h"
#include "support/TestMain.h"

#include "http/HttpCookie.h"
#include "http/HttpResponseWriter.h"

#include <functional>

using Script = std::function<void(HttpResponseWriter&)>;
Q_DECLARE_METATYPE(Script)

class TestHttpResponseWriter : public QObject
{
    Q_OBJECT

private slots:
    void writes_data()
    {
        QTest::addColumn<Script>("script");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("content length, then a write too many") << Script([](HttpResponseWriter& r) {
            r.write("abc", true);
            QTest::ignoreMessage(QtWarningMsg, "HttpResponseWriter: write after the last part ignored");
            r.write("more", true);
        }) << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc");
        // Chunk sizes in hex; a header set after the first write is not sent.
        QTest::newRow("chunked") << Script([](HttpResponseWriter& r) {
            r.write("ab");
            r.setHeader("X-Late", "1");
            r.write(QByteArray(255, 'z'));
            r.write("c", true);
        })
                                 << QByteArray(
                                        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\nff\r\n" +
                                        QByteArray(255, 'z') + "\r\n1\r\nc\r\n0\r\n\r\n");
        QTest::newRow("connection close, parts") << Script([](HttpResponseWriter& r) {
            r.setHeader("connection", "Close");
            r.write("ab");
            r.write("c", true);
        }) << QByteArray("HTTP/1.1 200 OK\r\nconnection: Close\r\n\r\nabc");
        // Headers in byte order; a name set again replaces the value, another case is another name.
        QTest::newRow("status, headers, cookies")
            << Script([](HttpResponseWriter& r) {
                   r.setStatus(404, "Not Found");
                   r.setHeader("X-A", "1");
                   r.setHeader("Content-Type", "text/plain");
                   r.setHeader("X-A", 2);
                   r.setHeader("x-a", "3");
                   r.setCookie(HttpCookie("b", "1", 0));
                   r.setCookie(HttpCookie("b", "2", 60, QByteArray(), QByteArray(), QByteArray(), true, true));
                   r.setCookie(HttpCookie("a", "1", 0, "/"));
                   r.setCookie(HttpCookie("", "ignored", 0));
                   r.write("x", true);
               })
            << QByteArray("HTTP/1.1 404 Not Found\r\nContent-Length: 1\r\nContent-Type: text/plain\r\nX-A: 2\r\n"
                          "x-a: 3\r\nSet-Cookie: a=1; Path=/; Version=1\r\n"
                          "Set-Cookie: b=2; Max-Age=60; Secure; HttpOnly; Version=1\r\n\r\nx");
    }

    void writes()
    {
        QFETCH(Script, script);
        QFETCH(QByteArray, expected);
        HttpSocketPair pair;
        QVERIFY(pair.open());
        HttpResponseWriter response(pair.server());
        script(response);
        QVERIFY(response.hasSentLastPart());
        QCOMPARE(pair.receive(expected.size()), expected);
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
        HttpSocketPair pair;
        QVERIFY(pair.open());
        HttpResponseWriter response(pair.server(), 300);
        QTest::ignoreMessage(QtWarningMsg, "HttpResponseWriter: peer takes no data, connection aborted");
        if (drain) {
            pair.server()->write(QByteArray(32 << 20, 'x'));
            QVERIFY(!HttpResponseWriter::drain(pair.server(), 300));
        }
        // Far less than the 128 MiB offered goes out: the writer gives up rather than buffer it.
        for (int written = 0; written < 2048 && response.isConnected(); ++written)
            response.write(QByteArray(65536, 'x'));
        QVERIFY(!response.isConnected());
    }
};

QLK_TEST_MAIN_CORE(TestHttpResponseWriter)
#include "tst_httpresponsewriter.moc"

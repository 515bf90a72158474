#include "support/HttpTestRig.h"
#include "support/TestMain.h"

#include "http/HttpCookie.h"
#include "http/HttpRequest.h"
#include "http/HttpRequestHandler.h"
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

        QTest::newRow("content length") << Script([](HttpResponseWriter& r) { r.write("abc", true); })
                                        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc");
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
        QTest::newRow("status and headers")
            << Script([](HttpResponseWriter& r) {
                   r.setStatus(404, "Not Found");
                   r.setHeader("X-A", "1");
                   r.setHeader("Content-Type", "text/plain");
                   r.setHeader("Access-Control-Allow-Origin", "*");
                   r.setHeader("X-A", 2);
                   r.setHeader("x-a", "3");
                   r.write("x", true);
               })
            << QByteArray("HTTP/1.1 404 Not Found\r\nAccess-Control-Allow-Origin: *\r\nContent-Length: 1\r\n"
                          "Content-Type: text/plain\r\nX-A: 2\r\nx-a: 3\r\n\r\nx");
        QTest::newRow("redirect") << Script([](HttpResponseWriter& r) { r.redirect("/x"); })
                                  << QByteArray("HTTP/1.1 303 See Other\r\nContent-Length: 8\r\nLocation: /x\r\n\r\n"
                                                "Redirect");
        QTest::newRow("cookies") << Script([](HttpResponseWriter& r) {
            r.setCookie(HttpCookie("b", "1", 0));
            r.setCookie(HttpCookie("b", "2", 60, QByteArray(), QByteArray(), QByteArray(), true, true));
            r.setCookie(HttpCookie("a", "1", 0, "/"));
            r.setCookie(HttpCookie("", "ignored", 0));
            r.write(QByteArray(), true);
        })
                                 << QByteArray(
                                        "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nSet-Cookie: a=1; Path=/; Version=1\r\n"
                                        "Set-Cookie: b=2; Max-Age=60; Secure; HttpOnly; Version=1\r\n\r\n");
        QTest::newRow("501 of the base handler") << Script([](HttpResponseWriter& r) {
            HttpRequest request(nullptr);
            QTest::ignoreMessage(QtCriticalMsg, "HttpRequestHandler: you need to override the service() function");
            HttpRequestHandler().service(request, r);
        }) << QByteArray("HTTP/1.1 501 not implemented\r\nContent-Length: 19\r\n\r\n501 not implemented");
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

    // A peer that reads nothing must not hold the writer: it is disconnected
    // once no byte leaves for the write timeout.
    void peerThatStopsReading()
    {
        HttpSocketPair pair;
        QVERIFY(pair.open());
        HttpResponseWriter response(pair.server(), 300);
        QTest::ignoreMessage(QtWarningMsg, "HttpResponseWriter: peer takes no data, connection aborted");
        // Far less than the 128 MiB offered goes out: the writer gives up rather than buffer it.
        for (int written = 0; written < 2048 && response.isConnected(); ++written)
            response.write(QByteArray(65536, 'x'));
        QVERIFY(!response.isConnected());
        response.write(QByteArray(), true);
        QVERIFY(response.hasSentLastPart());
    }
};

QLK_TEST_MAIN_CORE(TestHttpResponseWriter)
#include "tst_httpresponsewriter.moc"

#include "support/HttpTestRig.h"
#include "support/TestMain.h"

#include "http/HttpCookie.h"
#include "http/HttpRequest.h"
#include "http/HttpRequestHandler.h"
#include "http/HttpResponseWriter.h"

#include <QElapsedTimer>

class TestHttpResponseWriter : public QObject
{
    Q_OBJECT

private slots:
    void writes_data()
    {
        QTest::addColumn<int>("scenario");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("content length") << 0 << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc");
        QTest::newRow("chunked") << 1
                                 << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                               "2\r\nab\r\n1\r\nc\r\n0\r\n\r\n");
        QTest::newRow("connection close, parts") << 2 << QByteArray("HTTP/1.1 200 OK\r\nconnection: Close\r\n\r\nabc");
        QTest::newRow("header order") << 3
                                      << QByteArray("HTTP/1.1 200 OK\r\nAccess-Control-Allow-Origin: *\r\n"
                                                    "Connection: keep-alive\r\nContent-Length: 1\r\n"
                                                    "Content-Type: text/plain\r\n\r\nx");
        QTest::newRow("replaced and case-distinct headers")
            << 4 << QByteArray("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nX-A: 2\r\nx-a: 3\r\n\r\n");
        QTest::newRow("chunk of 255") << 5
                                      << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nff\r\n" +
                                                    QByteArray(255, 'z') + "\r\n0\r\n\r\n");
        QTest::newRow("redirect") << 6
                                  << QByteArray("HTTP/1.1 303 See Other\r\nContent-Length: 8\r\nLocation: /x\r\n\r\n"
                                                "Redirect");
        QTest::newRow("cookies") << 7
                                 << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n"
                                               "Set-Cookie: a=1; Path=/; Version=1\r\n"
                                               "Set-Cookie: b=2; Max-Age=60; Secure; HttpOnly; Version=1\r\n\r\n");
        QTest::newRow("501 of the base handler")
            << 8 << QByteArray("HTTP/1.1 501 not implemented\r\nContent-Length: 19\r\n\r\n501 not implemented");
        QTest::newRow("set after the first write is not sent")
            << 9 << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\na\r\n0\r\n\r\n");
    }

    void writes()
    {
        QFETCH(int, scenario);
        HttpSocketPair pair;
        QVERIFY(pair.open());
        HttpResponseWriter response(pair.server());
        switch (scenario) {
        case 0:
            response.write("abc", true);
            break;
        case 1:
            response.write("ab");
            response.write("c", true);
            break;
        case 2:
            response.setHeader("connection", "Close");
            response.write("ab");
            response.write("c", true);
            break;
        case 3:
            response.setHeader("Content-Type", "text/plain");
            response.setHeader("Access-Control-Allow-Origin", "*");
            response.setHeader("Connection", "keep-alive");
            response.write("x", true);
            break;
        case 4:
            response.setStatus(404, "Not Found");
            response.setHeader("X-A", "1");
            response.setHeader("X-A", 2);
            response.setHeader("x-a", "3");
            response.write(QByteArray(), true);
            break;
        case 5:
            response.write(QByteArray(255, 'z'));
            response.write(QByteArray(), true);
            break;
        case 6:
            response.redirect("/x");
            break;
        case 7:
            response.setCookie(HttpCookie("b", "1", 0));
            response.setCookie(HttpCookie("b", "2", 60, QByteArray(), QByteArray(), QByteArray(), true, true));
            response.setCookie(HttpCookie("a", "1", 0, "/"));
            response.setCookie(HttpCookie("", "ignored", 0));
            response.write(QByteArray(), true);
            break;
        case 8: {
            HttpRequest request(nullptr);
            HttpRequestHandler handler;
            QTest::ignoreMessage(QtCriticalMsg, "HttpRequestHandler: you need to override the service() function");
            handler.service(request, response);
            break;
        }
        case 9:
            response.write("a");
            response.setHeader("X-Late", "1");
            response.write(QByteArray(), true);
            break;
        }
        QVERIFY(response.hasSentLastPart());
        QFETCH(QByteArray, expected);
        QCOMPARE(pair.receive(expected.size()), expected);
    }

    void cookieText_data()
    {
        QTest::addColumn<QByteArray>("setCookie");
        QTest::addColumn<QByteArray>("rendered");
        QTest::newRow("all attributes")
            << QByteArray("sid=\"a;b\"; Comment=c; Domain=d.pt; Max-Age=5; Path=/p; Secure; HttpOnly; Version=2")
            << QByteArray("sid=a;b; Comment=c; Domain=d.pt; Max-Age=5; Path=/p; Secure; HttpOnly; Version=2");
        QTest::newRow("name only") << QByteArray("flag") << QByteArray("flag=; Version=1");
        QTest::newRow("second unknown is dropped") << QByteArray(" a = 1 ;b=2;;") << QByteArray("a=1; Version=1");
    }

    void cookieText()
    {
        QFETCH(QByteArray, setCookie);
        if (setCookie.contains("b=2"))
            QTest::ignoreMessage(QtWarningMsg, "HttpCookie: Ignoring unknown b=2");
        QTEST(HttpCookie(setCookie).toByteArray(), "rendered");
    }

    void splitCsv()
    {
        QCOMPARE(HttpCookie::splitCsv(" a=1 ;; b=\"x;y\" ; \"\" ;c"), (QByteArrayList{"a=1", "b=x;y", "c"}));
        QCOMPARE(HttpCookie::splitCsv(""), QByteArrayList());
    }

    // A peer that reads nothing must not hold the writer: it is disconnected
    // once no byte leaves for the write timeout.
    void peerThatStopsReading()
    {
        HttpSocketPair pair;
        QVERIFY(pair.open());
        HttpResponseWriter response(pair.server(), 300);
        const QByteArray block(65536, 'x');
        QTest::ignoreMessage(QtWarningMsg, "HttpResponseWriter: peer takes no data, connection aborted");
        int written = 0;
        for (; written < 2048 && response.isConnected(); ++written)
            response.write(block);
        QVERIFY(!response.isConnected());
        // Far less than the 128 MiB offered went out: the writer gave up rather than buffer it.
        QVERIFY(written < 2048);
        response.write(QByteArray(), true);
        QVERIFY(response.hasSentLastPart());
    }
};

QLK_TEST_MAIN_CORE(TestHttpResponseWriter)
#include "tst_httpresponsewriter.moc"

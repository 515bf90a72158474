#include "support/HttpTestRig.h"
#include "support/TestMain.h"

#include "http/HttpRequest.h"

#include <QSettings>
#include <QTemporaryFile>

#include <memory>

class TestHttpRequest : public QObject
{
    Q_OBJECT

private:
    // Feeds the bytes over a loopback socket, in pieces of at most pieceSize.
    std::unique_ptr<HttpRequest> parse(const QByteArray& raw, int pieceSize = 0, const QSettings* settings = nullptr)
    {
        auto request = std::make_unique<HttpRequest>(settings);
        const int step = pieceSize > 0 ? pieceSize : qMax(1, raw.size());
        for (int at = 0; at < raw.size(); at += step) {
            if (!m_pair.deliver(raw.mid(at, step)))
                return nullptr;
            pump(*request);
        }
        return request;
    }

    void pump(HttpRequest& request)
    {
        while (m_pair.server()->bytesAvailable() > 0 && request.status() != HttpRequest::Complete &&
               request.status() != HttpRequest::Aborted)
            request.readFromSocket(m_pair.server());
    }

    static QByteArrayList flatten(const QMultiMap<QByteArray, QByteArray>& map)
    {
        QByteArrayList list;
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            list << it.key() + '=' + it.value();
        return list;
    }

    HttpSocketPair m_pair;

private slots:
    void initTestCase() { QVERIFY(m_pair.open()); }

    void cleanup()
    {
        // Whatever a test left unread must not leak into the next one.
        m_pair.server()->readAll();
    }

    void parses_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("rawPath");
        QTest::addColumn<QByteArrayList>("parameters"); // by name, most recent value first
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArrayList>("headers");
        QTest::addColumn<QByteArrayList>("cookies");

        QTest::newRow("query and escapes")
            << QByteArray("GET /a%20b?x=1&y=%41&z HTTP/1.1\r\nHost: h\r\n\r\n") << QByteArray("GET")
            << QByteArray("/a b") << QByteArray("/a%20b") << QByteArrayList{"x=1", "y=A", "z="} << QByteArray()
            << QByteArrayList{"host=h"} << QByteArrayList();
        QTest::newRow("form body after query")
            << QByteArray("POST /f?a=1 HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                          "Content-Length: 7\r\n\r\na=2&b=3")
            << QByteArray("POST") << QByteArray("/f") << QByteArray("/f") << QByteArrayList{"a=2", "a=1", "b=3"}
            << QByteArray("a=2&b=3")
            << QByteArrayList{"content-length=7", "content-type=application/x-www-form-urlencoded"} << QByteArrayList();
        QTest::newRow("json body is no form")
            << QByteArray(
                   "POST /j HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: 9\r\n\r\n{\"a\":\"b\"}")
            << QByteArray("POST") << QByteArray("/j") << QByteArray("/j") << QByteArrayList()
            << QByteArray("{\"a\":\"b\"}") << QByteArrayList{"content-length=9", "content-type=application/json"}
            << QByteArrayList();
        QTest::newRow("header case, continuation, blank lines first")
            << QByteArray("\r\n\r\nGET / HTTP/1.0\r\nX-A: one\r\n  two\r\nHOST:  h \r\n\r\n") << QByteArray("GET")
            << QByteArray("/") << QByteArray("/") << QByteArrayList() << QByteArray()
            << QByteArrayList{"host=h", "x-a=one two", "x-a=one"} << QByteArrayList();
        QTest::newRow("plus and bad escapes")
            << QByteArray("GET /p?q=a+b%zz%4&r=%2541 HTTP/1.1\r\n\r\n") << QByteArray("GET") << QByteArray("/p")
            << QByteArray("/p") << QByteArrayList{"q=a b%zz%4", "r=%41"} << QByteArray() << QByteArrayList()
            << QByteArrayList();
        QTest::newRow("cookies with a quoted semicolon")
            << QByteArray("GET / HTTP/1.1\r\nCookie: a=1; b=\"x;y\"\r\nCookie: a=3;c\r\n\r\n") << QByteArray("GET")
            << QByteArray("/") << QByteArray("/") << QByteArrayList() << QByteArray() << QByteArrayList()
            << QByteArrayList{"a=3", "b=x;y", "c="};
    }

    void parses()
    {
        QFETCH(QByteArray, raw);
        // Whole, and byte by byte: the result must not depend on how the bytes arrive.
        for (const int pieceSize : {0, 1}) {
            const std::unique_ptr<HttpRequest> request = parse(raw, pieceSize);
            QVERIFY(request);
            QCOMPARE(request->status(), HttpRequest::Complete);
            QTEST(request->method(), "method");
            QTEST(request->path(), "path");
            QTEST(request->rawPath(), "rawPath");
            QTEST(request->body(), "body");
            QTEST(flatten(request->headerMap()), "headers");
            QTEST(flatten(request->parameterMap()), "parameters");
            QByteArrayList cookies;
            for (auto it = request->cookieMap().cbegin(); it != request->cookieMap().cend(); ++it)
                cookies << it.key() + '=' + it.value();
            QTEST(cookies, "cookies");
            QCOMPARE(request->peerAddress(), QHostAddress(QHostAddress::LocalHost));
        }
    }

    void accessors()
    {
        const std::unique_ptr<HttpRequest> request =
            parse("POST /f?a=1 HTTP/1.1\r\nX-A: 1\r\nx-a: 2\r\nContent-Length: 3\r\n\r\na=2");
        QCOMPARE(request->header("X-a"), QByteArray("2"));
        QCOMPARE(request->headers("X-A"), (QByteArrayList{"2", "1"}));
        QCOMPARE(request->parameter("a"), QByteArray("2"));
        QCOMPARE(request->parameters("a"), (QByteArrayList{"2", "1"}));
        QCOMPARE(request->parameter("A"), QByteArray());
        QCOMPARE(request->version(), QByteArray("HTTP/1.1"));
        QCOMPARE(request->uploadedFile("a"), nullptr);
    }

    void aborts_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("warning");

        const QByteArray head = "POST / HTTP/1.1\r\nContent-Length: ";
        // With the default limit of 16000: the request line, headers and body count together.
        const auto sized = [&head](int total) {
            const QByteArray start = head + "00000\r\n\r\n";
            const int bodySize = total - start.size();
            return head + QByteArray::number(bodySize).rightJustified(5, '0') + "\r\n\r\n" + QByteArray(bodySize, 'b');
        };
        QTest::newRow("exactly at the limit") << sized(16000) << int(HttpRequest::Complete) << QString();
        QTest::newRow("one byte past") << sized(16001) << int(HttpRequest::Aborted)
                                       << QString("HttpRequest: expected body is too large");
        QTest::newRow("declared length, no body yet") << QByteArray(head + "16000\r\n\r\n") << int(HttpRequest::Aborted)
                                                      << QString("HttpRequest: expected body is too large");
        QTest::newRow("headers past the limit")
            << QByteArray("GET / HTTP/1.1\r\n" + QByteArray(500, 'h') + ": " + QByteArray(15600, 'v') + "\r\n\r\n")
            << int(HttpRequest::Aborted) << QString("HttpRequest: received too many bytes");
        QTest::newRow("endless line") << QByteArray(20000, 'x') << int(HttpRequest::Aborted)
                                      << QString("HttpRequest: received too many bytes");
        QTest::newRow("huge declared length")
            << QByteArray(head + "9223372036854775807\r\n\r\n") << int(HttpRequest::Aborted)
            << QString("HttpRequest: expected body is too large");
        QTest::newRow("two tokens") << QByteArray("GET /\r\n\r\n") << int(HttpRequest::Aborted)
                                    << QString("HttpRequest: received broken HTTP request, invalid first line");
        QTest::newRow("no HTTP version") << QByteArray("GET / FTP\r\n\r\n") << int(HttpRequest::Aborted)
                                         << QString("HttpRequest: received broken HTTP request, invalid first line");
        QTest::newRow("multipart declared too large")
            << QByteArray("POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=xx\r\n"
                          "Content-Length: 1000001\r\n\r\n")
            << int(HttpRequest::Aborted) << QString("HttpRequest: expected multipart body is too large");
        QTest::newRow("negative length is no body")
            << QByteArray("POST / HTTP/1.1\r\nContent-Length: -5\r\n\r\n") << int(HttpRequest::Complete) << QString();
    }

    void aborts()
    {
        QFETCH(QByteArray, raw);
        QFETCH(int, status);
        QFETCH(QString, warning);
        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
        const std::unique_ptr<HttpRequest> request = parse(raw);
        QVERIFY(request);
        QCOMPARE(int(request->status()), status);
    }

    void crLfSplitAcrossPackets()
    {
        auto request = std::make_unique<HttpRequest>(nullptr);
        for (const QByteArray& piece : {QByteArray("GET / HTTP/1.1\r"), QByteArray("\nX-A: 1\r"),
                                        QByteArray("\nX-B: 2\r\n\r"), QByteArray("\n")}) {
            QVERIFY(m_pair.deliver(piece));
            pump(*request);
        }
        QCOMPARE(request->status(), HttpRequest::Complete);
        QCOMPARE(request->header("x-b"), QByteArray("2"));
    }

    void multipart()
    {
        const QByteArray file("line one\r\n\r\n--not the boundary\r\n\x00\xff end", 44);
        const QByteArray body = "--XyZ\r\n"
                                "Content-Disposition: form-data; name=\"title\"\r\n\r\n"
                                "Hello\r\nworld\r\n"
                                "--XyZ\r\n"
                                "Content-Disposition: form-data; name=\"upload\"; filename=\"a.bin\"\r\n"
                                "Content-Type: application/octet-stream\r\n\r\n" +
                                file +
                                "\r\n--XyZ\r\n"
                                "Content-Disposition: attachment; name=\"other\"\r\n\r\n"
                                "dropped\r\n"
                                "--XyZ--\r\n";
        const QByteArray raw = "POST /up?q=1 HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=\"XyZ\"\r\n"
                               "Content-Length: " +
                               QByteArray::number(body.size()) + "\r\n\r\n" + body;
        QString spoolPath;
        {
            const std::unique_ptr<HttpRequest> request = parse(raw, 61);
            QCOMPARE(request->status(), HttpRequest::Complete);
            QCOMPARE(request->body(), QByteArray());
            QCOMPARE(request->parameter("title"), QByteArray("Hello\r\nworld"));
            QCOMPARE(request->parameter("upload"), QByteArray("a.bin"));
            QCOMPARE(request->parameter("q"), QByteArray("1"));
            QCOMPARE(request->parameter("other"), QByteArray());
            QTemporaryFile* uploaded = request->uploadedFile("upload");
            QVERIFY(uploaded);
            QCOMPARE(uploaded->readAll(), file);
            // The accessor rewinds every time.
            QCOMPARE(request->uploadedFile("upload")->readAll(), file);
            spoolPath = uploaded->fileName();
            QVERIFY(QFile::exists(spoolPath));
        }
        QVERIFY(!QFile::exists(spoolPath));
    }

    void multipartLimit()
    {
        QTemporaryDir dir;
        QSettings settings(dir.filePath("s.ini"), QSettings::IniFormat);
        settings.setValue("maxMultiPartSize", 100);
        const QByteArray raw = "POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=b\r\n"
                               "Content-Length: 100\r\n\r\n" +
                               QByteArray(100, 'm');
        QTest::ignoreMessage(QtWarningMsg, "HttpRequest: received too many multipart bytes");
        const std::unique_ptr<HttpRequest> request = parse(raw, 0, &settings);
        QCOMPARE(request->status(), HttpRequest::Aborted);
    }

    void urlDecode_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QByteArray>("decoded");
        QTest::newRow("plus") << QByteArray("a+b") << QByteArray("a b");
        QTest::newRow("escape") << QByteArray("%41%62") << QByteArray("Ab");
        QTest::newRow("not hex") << QByteArray("%zz%4") << QByteArray("%zz%4");
        QTest::newRow("sign is no hex digit") << QByteArray("%-1%+f") << QByteArray("%-1% f");
        QTest::newRow("decoded percent stays") << QByteArray("%2541") << QByteArray("%41");
        QTest::newRow("percent before escape") << QByteArray("%%41") << QByteArray("%A");
        QTest::newRow("trailing percent") << QByteArray("a%") << QByteArray("a%");
    }

    void urlDecode()
    {
        QFETCH(QByteArray, source);
        QTEST(HttpRequest::urlDecode(source), "decoded");
    }
};

QLK_TEST_MAIN_CORE(TestHttpRequest)
#include "tst_httprequest.moc"

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
            while (m_pair.server()->bytesAvailable() > 0 && request->status() != HttpRequest::Complete &&
                   request->status() != HttpRequest::Aborted)
                request->readFromSocket(m_pair.server());
        }
        return request;
    }

    template <typename Map>
    static QByteArrayList flatten(const Map& map)
    {
        QByteArrayList list;
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            list << it.key() + '=' + it.value();
        return list;
    }

    // Everything parsed, on one line: method, path, raw path, [body], then the
    // parameters (by name, most recent value first), headers and cookies.
    static QByteArray describe(const HttpRequest& r)
    {
        return r.method() + ' ' + r.path() + ' ' + r.rawPath() + " [" + r.body() + "] " +
               flatten(r.parameterMap()).join(' ') + " | " + flatten(r.headerMap()).join(' ') + " | " +
               flatten(r.cookieMap()).join(' ');
    }

    HttpSocketPair m_pair;

private slots:
    void initTestCase() { QVERIFY(m_pair.open()); }
    // Whatever a test left unread must not leak into the next one.
    void cleanup() { m_pair.server()->readAll(); }

    void parses_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QByteArray>("parsed");
        QTest::newRow("query and escapes") << QByteArray("GET /a%20b?x=1&y=%41&z HTTP/1.1\r\nHost: h\r\n\r\n")
                                           << QByteArray("GET /a b /a%20b [] x=1 y=A z= | host=h | ");
        QTest::newRow("form body after query")
            << QByteArray("POST /f?a=1 HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                          "Content-Length: 7\r\n\r\na=2&b=3")
            << QByteArray("POST /f /f [a=2&b=3] a=2 a=1 b=3 | content-length=7 "
                          "content-type=application/x-www-form-urlencoded | ");
        QTest::newRow("json body is no form")
            << QByteArray(
                   "POST /j HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: 9\r\n\r\n{\"a\":\"b\"}")
            << QByteArray("POST /j /j [{\"a\":\"b\"}]  | content-length=9 content-type=application/json | ");
        QTest::newRow("header case, continuation, blank lines first")
            << QByteArray("\r\n\r\nGET / HTTP/1.0\r\nX-A: one\r\n  two\r\nHOST:  h \r\n\r\n")
            << QByteArray("GET / / []  | host=h x-a=one two x-a=one | ");
        QTest::newRow("plus and bad escapes")
            << QByteArray("GET /p?q=a+b%zz%4&r=%2541&s=%-1%+f&t=%%41&u=a% HTTP/1.1\r\n\r\n")
            << QByteArray("GET /p /p [] q=a b%zz%4 r=%41 s=%-1% f t=%A u=a% |  | ");
        QTest::newRow("cookies with a quoted semicolon")
            << QByteArray("GET / HTTP/1.1\r\nCookie: a=1; b=\"x;y\"\r\nCookie: a=3;c\r\n\r\n")
            << QByteArray("GET / / []  |  | a=3 b=x;y c=");
    }

    void parses()
    {
        QFETCH(QByteArray, raw);
        // Whole, and byte by byte (a CR and its LF in different packets): the
        // result must not depend on how the bytes arrive.
        for (const int pieceSize : {0, 1}) {
            const std::unique_ptr<HttpRequest> request = parse(raw, pieceSize);
            QVERIFY(request);
            QCOMPARE(request->status(), HttpRequest::Complete);
            QTEST(describe(*request), "parsed");
            QCOMPARE(request->peerAddress(), QHostAddress(QHostAddress::LocalHost));
        }
    }

    void lookups()
    {
        const std::unique_ptr<HttpRequest> request =
            parse("POST /f?a=1 HTTP/1.1\r\nX-A: 1\r\nx-a: 2\r\nContent-Length: 3\r\n\r\na=2");
        QCOMPARE(request->header("X-a"), QByteArray("2"));
        QCOMPARE(request->headers("X-A"), (QByteArrayList{"2", "1"}));
        QCOMPARE(request->parameters("a"), (QByteArrayList{"2", "1"}));
        QCOMPARE(request->parameter("A"), QByteArray());
    }

    void aborts_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<int>("maxMultiPartSize"); // 0: the defaults
        QTest::addColumn<QString>("warning");      // empty: the request completes

        const QByteArray head = "POST / HTTP/1.1\r\nContent-Length: ";
        // With the default limit of 16000: the request line, headers and body count together.
        const auto sized = [&head](int total) {
            const int bodySize = total - (head + "00000\r\n\r\n").size();
            return head + QByteArray::number(bodySize).rightJustified(5, '0') + "\r\n\r\n" + QByteArray(bodySize, 'b');
        };
        const QByteArray multipart = "POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=b\r\n";
        const QString tooLarge = "HttpRequest: expected body is too large";
        const QString tooMany = "HttpRequest: received too many bytes";
        const QString firstLine = "HttpRequest: received broken HTTP request, invalid first line";
        QTest::newRow("exactly at the limit") << sized(16000) << 0 << QString();
        QTest::newRow("one byte past") << sized(16001) << 0 << tooLarge;
        QTest::newRow("declared length, no body yet") << QByteArray(head + "16000\r\n\r\n") << 0 << tooLarge;
        QTest::newRow("headers past the limit")
            << QByteArray("GET / HTTP/1.1\r\n" + QByteArray(500, 'h') + ": " + QByteArray(15600, 'v') + "\r\n\r\n") << 0
            << tooMany;
        QTest::newRow("endless line") << QByteArray(20000, 'x') << 0 << tooMany;
        QTest::newRow("huge declared length") << QByteArray(head + "9223372036854775807\r\n\r\n") << 0 << tooLarge;
        QTest::newRow("negative length is no body") << QByteArray(head + "-5\r\n\r\n") << 0 << QString();
        QTest::newRow("two tokens") << QByteArray("GET /\r\n\r\n") << 0 << firstLine;
        QTest::newRow("no HTTP version") << QByteArray("GET / FTP\r\n\r\n") << 0 << firstLine;
        QTest::newRow("multipart declared too large") << QByteArray(multipart + "Content-Length: 1000001\r\n\r\n") << 0
                                                      << QString("HttpRequest: expected multipart body is too large");
        QTest::newRow("multipart spool past its limit")
            << QByteArray(multipart + "Content-Length: 100\r\n\r\n" + QByteArray(100, 'm')) << 100
            << QString("HttpRequest: received too many multipart bytes");
    }

    void aborts()
    {
        QFETCH(QByteArray, raw);
        QFETCH(int, maxMultiPartSize);
        QFETCH(QString, warning);
        QTemporaryDir dir;
        QSettings settings(dir.filePath("s.ini"), QSettings::IniFormat);
        settings.setValue("maxMultiPartSize", maxMultiPartSize);
        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
        const std::unique_ptr<HttpRequest> request = parse(raw, 0, maxMultiPartSize ? &settings : nullptr);
        QVERIFY(request);
        QCOMPARE(request->status(), warning.isEmpty() ? HttpRequest::Complete : HttpRequest::Aborted);
    }

    void multipart()
    {
        const QByteArray file("line one\r\n\r\n--not the boundary\r\n\x00\xff end", 38);
        const QByteArray body = "--XyZ\r\nContent-Disposition: form-data; name=\"title\"\r\n\r\nHello\r\nworld\r\n"
                                "--XyZ\r\nContent-Disposition: form-data; name=\"upload\"; filename=\"a.bin\"\r\n"
                                "Content-Type: application/octet-stream\r\n\r\n" +
                                file +
                                "\r\n--XyZ\r\nContent-Disposition: attachment; name=\"other\"\r\n\r\ndropped\r\n"
                                "--XyZ--\r\n";
        const QByteArray raw = "POST /up?q=1 HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=\"XyZ\"\r\n"
                               "Content-Length: " +
                               QByteArray::number(body.size()) + "\r\n\r\n" + body;
        QString spoolPath;
        {
            const std::unique_ptr<HttpRequest> request = parse(raw, 61);
            QCOMPARE(request->status(), HttpRequest::Complete);
            QCOMPARE(request->body(), QByteArray());
            QCOMPARE(flatten(request->parameterMap()), (QByteArrayList{"q=1", "title=Hello\r\nworld", "upload=a.bin"}));
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
};

QLK_TEST_MAIN_CORE(TestHttpRequest)
#include "tst_httprequest.moc"

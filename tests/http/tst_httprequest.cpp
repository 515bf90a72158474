#include "support/TestMain.h"

#include "http/HttpRequest.h"

#include <QBuffer>
#include <QSettings>

#include <memory>

class TestHttpRequest : public QObject
{
    Q_OBJECT

    // Feeds the bytes as packets of at most pieceSize, as a socket delivers them.
    static std::unique_ptr<HttpRequest> parse(const QByteArray& raw, int pieceSize = 1 << 30,
                                              const HttpRequest::Limits& limits = {})
    {
        auto request = std::make_unique<HttpRequest>(limits);
        QByteArray arrived;
        for (int at = 0; at < raw.size(); at += pieceSize) {
            arrived += raw.mid(at, pieceSize);
            QBuffer socket(&arrived);
            socket.open(QIODevice::ReadOnly);
            while (socket.bytesAvailable() > 0 && request->status() != HttpRequest::Complete &&
                   request->status() != HttpRequest::Aborted)
                request->readFromSocket(&socket);
            arrived.remove(0, int(socket.pos()));
        }
        return request;
    }

    static QByteArray flatten(const QMultiMap<QByteArray, QByteArray>& map)
    {
        QByteArrayList list;
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            list << it.key() + '=' + it.value();
        return list.join(' ');
    }

    // Temporary files are unnamed on Linux: count what the process holds open.
    static int openFiles()
    {
        return int(QDir("/proc/self/fd", "", QDir::NoSort, QDir::AllEntries | QDir::System).count());
    }

private slots:
    void parses_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QByteArray>("parsed"); // method path rawPath [body] parameters | headers
        QTest::newRow("query and escapes") << QByteArray("GET /a%20b?x=1&y=%41&z HTTP/1.1\r\nHost: h\r\n\r\n")
                                           << QByteArray("GET /a b /a%20b [] x=1 y=A z= | host=h");
        QTest::newRow("form body after query")
            << QByteArray("POST /f?a=1 HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                          "Content-Length: 7\r\n\r\na=2&b=3")
            << QByteArray("POST /f /f [a=2&b=3] a=2 a=1 b=3 | content-length=7 "
                          "content-type=application/x-www-form-urlencoded");
        QTest::newRow("header case, continuation, blank lines first")
            << QByteArray("\r\n\r\nGET / HTTP/1.0\r\nX-A: one\r\n  two\r\nHOST:  h \r\n\r\n")
            << QByteArray("GET / / []  | host=h x-a=one two");
        // An escape needs two hex digits; what it decodes to is not decoded again.
        QTest::newRow("plus and bad escapes")
            << QByteArray("GET /p?q=a+b%zz%4&r=%2541&s=%-1%+f&t=%%41&u=a% HTTP/1.1\r\n\r\n")
            << QByteArray("GET /p /p [] q=a b%zz%4 r=%41 s=%-1% f t=%A u=a% | ");
    }

    void parses()
    {
        QFETCH(QByteArray, raw);
        for (const int pieceSize : {1 << 30, 1}) { // whole, and byte by byte: how the bytes arrive must not matter
            const std::unique_ptr<HttpRequest> r = parse(raw, pieceSize);
            QCOMPARE(r->status(), HttpRequest::Complete);
            QTEST(r->method() + ' ' + r->path() + ' ' + r->rawPath() + " [" + r->body() + "] " +
                      flatten(r->parameterMap()) + " | " + flatten(r->headerMap()),
                  "parsed");
        }
    }

    void aborts_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("warning"); // empty: the request completes
        QTest::addColumn<int>("maxRequestSize");
        const int d = 16000; // the default limit, of request line, headers and body together
        const auto row = [](const char* name, const QByteArray& raw, const QString& warning, int limit) {
            QTest::newRow(name) << raw << warning << limit;
        };
        const QByteArray head = "POST / HTTP/1.1\r\nContent-Length: ";
        const int body = d - (head + "00000\r\n\r\n").size();
        const QString tooLarge = "HttpRequest: expected body is too large";
        row("at the limit", head + QByteArray::number(body) + "\r\n\r\n" + QByteArray(body, 'b'), {}, d);
        row("past the limit", head + QByteArray::number(body + 1) + "\r\n\r\n", tooLarge, d);
        row("headers past the limit", "GET / HTTP/1.1\r\nX: " + QByteArray(16000, 'v') + "\r\n\r\n",
            "HttpRequest: received too many bytes", d);
        row("huge declared length", head + "9223372036854775807\r\n\r\n", tooLarge, d);

        // The header section's own limits, whatever the request limit: 65,536 bytes with request line and blank line.
        const int big = 4 << 20;
        const QByteArray get = "GET / HTTP/1.1\r\n", filler = "X: " + QByteArray(65536 - get.size() - 7, 'v') + "\r\n";
        const QString headTooLarge = "HttpRequest: header section too large";
        row("header section at 64 KiB", get + filler + "\r\n", {}, big);
        row("header section past 64 KiB", get + "ww" + filler + "\r\n", headTooLarge, big);
        row("30,000 continuation lines", get + "X: v\r\n" + QByteArray(" c\r\n").repeated(30000) + "\r\n", headTooLarge,
            big);
        QByteArray fields;
        for (int i = 0; i < 100; ++i)
            fields += "X-" + QByteArray::number(i) + ": v\r\n";
        row("100 header fields", get + fields + "\r\n", {}, big);
        row("101 header fields", get + fields + "Y: v\r\n\r\n", "HttpRequest: too many header fields", big);

        // Each parameter, part and file is an entry (a file an open file too): counted, whatever the size limits.
        const auto form = [](const QByteArray& query, const QByteArray& body) {
            return "POST /?" + query + " HTTP/1.1\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
                   body;
        };
        const QString tooManyParameters = "HttpRequest: too many parameters";
        row("1,000 parameters", form("q=1", "a&" + QByteArray("b=&").repeated(998)), {}, big);
        row("1,001 parameters, query and body", form("q=1&r", "a&" + QByteArray("b=&").repeated(998)),
            tooManyParameters, big);
        row("2,000,000 empty parameters", form("", QByteArray("a&").repeated(2000000)), tooManyParameters, big);
        const auto multipart = [](int fields, int files) {
            QByteArray body;
            for (int i = 0; i < fields + files; ++i)
                body += "--b\r\nContent-Disposition: form-data; name=\"f" + QByteArray::number(i) + "\"" +
                        (i < files ? "; filename=\"x\"" : "") + "\r\n\r\nz\r\n";
            body += "--b--\r\n";
            return "POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=b\r\nContent-Length: " +
                   QByteArray::number(body.size()) + "\r\n\r\n" + body;
        };
        row("multipart declared too large",
            "POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=b\r\nContent-Length: 1000001\r\n\r\n",
            "HttpRequest: expected multipart body is too large", d);
        row("100 multipart parts, 4 files", multipart(96, 4), {}, d);
        row("101 multipart parts", multipart(101, 0), "HttpRequest: too many multipart parts", d);
        row("5 uploaded files", multipart(0, 5), "HttpRequest: too many uploaded files", d);
    }

    void aborts()
    {
        QFETCH(QByteArray, raw);
        QFETCH(QString, warning);
        QFETCH(int, maxRequestSize);
        const int files = openFiles();
        for (const int pieceSize : {1 << 30, 1000}) { // whole, and in packets as a slow sender gives them
            if (!warning.isEmpty())
                QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
            const std::unique_ptr<HttpRequest> request = parse(raw, pieceSize, {maxRequestSize});
            QCOMPARE(request->status(), warning.isEmpty() ? HttpRequest::Complete : HttpRequest::Aborted);
            // The spool file and the uploaded files at most, whatever the request holds.
            QVERIFY2(openFiles() <= files + 1 + HttpRequest::maxUploadedFiles,
                     qPrintable(QString::number(openFiles())));
        }
    }

    // Fields, a file sent twice, another disposition, a CR in a name, a cut-off file: nothing outlives the request on
    // disk, and no value, file name, disposition (any may be a key) or line end is logged.
    void multipart()
    {
        static QStringList logged;
        static QtMessageHandler previous = nullptr;
        previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            logged << text;
            previous(type, context, text);
        });
        const QByteArray file("line one\r\n\r\n--not the boundary\r\n\x00\xff end", 38);
        const QByteArray part = "--XyZ\r\nContent-Disposition: form-data; name=";
        const QByteArray body =
            part + "\"title\"\r\n\r\nHello\r\nworld\r\n" + part + "\"upload\"; filename=\"a.bin\"\r\n\r\nfirst\r\n" +
            part + "\"upload\"; filename=\"b.bin\"\r\nContent-Type: application/octet-stream\r\n\r\n" + file +
            "\r\n--XyZ\r\nContent-Disposition: attachment; name=\"other\"\r\n\r\ndropped\r\n" + part +
            "\"n\rforged\"\r\n\r\nv\r\n" + part + "\"cut\"; filename=\"c.bin\"\r\n\r\nno end";
        const QByteArray raw = "POST /up?q=1 HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=\"XyZ\"\r\n"
                               "Content-Length: " +
                               QByteArray::number(body.size()) + "\r\n\r\n" + body;
        const int before = openFiles();
        std::unique_ptr<HttpRequest> request = parse(raw, 61);
        QCOMPARE(request->status(), HttpRequest::Complete);
        QCOMPARE(flatten(request->parameterMap()),
                 QByteArray("n\rforged=v q=1 title=Hello\r\nworld upload=b.bin upload=a.bin"));
        QCOMPARE(openFiles(), before + 2); // the spool file and one upload
        request.reset();
        qInstallMessageHandler(previous);
        QVERIFY(logged.contains("HttpRequest: set parameter n\\x0dforged (1 bytes)")); // escaped, and logging is on
        for (const char* secret : {"world", ".bin", "other", "\r", "\n"})
            QVERIFY2(!logged.join('|').contains(secret), qPrintable(logged.join('|')));
        QCOMPARE(openFiles(), before);
        // The spool file has a limit of its own, checked as the bytes come.
        QSettings settings(TestMain::configHome().filePath("s.ini"), QSettings::IniFormat);
        settings.setValue("maxMultiPartSize", body.size());
        QTest::ignoreMessage(QtWarningMsg, "HttpRequest: received too many multipart bytes");
        QCOMPARE(parse(raw, 61, HttpRequest::limitsFrom(&settings))->status(), HttpRequest::Aborted);
    }
};

QLK_TEST_MAIN_CORE(TestHttpRequest)
#include "tst_httprequest.moc"

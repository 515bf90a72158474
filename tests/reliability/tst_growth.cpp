// What a caller controls must cost time in proportion to its size: the request
// parser, the wrapping of receipt text and the pre-scan of request JSON, each
// at size n and 4n. A linear cost grows about 4 times, a quadratic one 16.
// Times are processor time of this thread, repeated until measurable, the
// median of several runs; only the ratio counts, never an absolute time.

#include "support/TestMain.h"

#include "app/SafeJson.h"
#include "http/HttpRequest.h"
#include "printing/PrintJob.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonObject>
#include <QLoggingCategory>

#include <algorithm>
#include <functional>
#include <malloc.h>
#include <time.h>

Q_DECLARE_METATYPE(std::function<std::function<void()>(int)>)
Q_DECLARE_METATYPE(QJsonParseError::ParseError)

class TestGrowth : public QObject
{
    Q_OBJECT

    // Given the size, builds the input and returns the work to time on it.
    using Work = std::function<std::function<void()>(int n)>;

    static qint64 threadNanoseconds()
    {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    }

    static qint64 timeOf(const std::function<void()>& work, int repeats)
    {
        const qint64 start = threadNanoseconds();
        for (int i = 0; i < repeats; ++i)
            work();
        return threadNanoseconds() - start;
    }

    // Cost of size 4n over the cost of size n.
    static double growth(const Work& make, int n)
    {
        const std::function<void()> smaller = make(n);
        const std::function<void()> larger = make(4 * n);
        // Enough repeats that the smaller size takes 20 ms; the larger gets as many.
        int repeats = 1;
        while (repeats < (1 << 20) && timeOf(smaller, repeats) < 20000000)
            repeats *= 2;
        QVector<qint64> small, large;
        for (int run = 0; run < 5; ++run) {
            small << timeOf(smaller, repeats);
            large << timeOf(larger, repeats);
        }
        std::sort(small.begin(), small.end());
        std::sort(large.begin(), large.end());
        return double(large.at(2)) / double(qMax<qint64>(1, small.at(2)));
    }

    // Parses a request as it arrives in packets of pieceSize bytes, with the program's limits.
    static HttpRequest::RequestStatus parse(const QByteArray& raw, int pieceSize = 1 << 30)
    {
        HttpRequest::Limits limits;
        limits.maxSize = 4 << 20;
        limits.maxMultiPartSize = 10000000;
        HttpRequest request(limits);
        QByteArray arrived;
        QBuffer socket(&arrived);
        socket.open(QIODevice::ReadOnly);
        for (int at = 0; at < raw.size() && request.status() != HttpRequest::Aborted; at += pieceSize) {
            arrived.append(raw.constData() + at, qMin(pieceSize, raw.size() - at));
            while (socket.bytesAvailable() > 0 && request.status() != HttpRequest::Complete &&
                   request.status() != HttpRequest::Aborted)
                request.readFromSocket(&socket);
        }
        return request.status();
    }

    static void expectComplete(const QByteArray& raw, int pieceSize = 1 << 30)
    {
        if (parse(raw, pieceSize) != HttpRequest::Complete)
            qFatal("the request of the growth check was not parsed completely");
    }

private slots:
    void initTestCase()
    {
        // Freed memory stays with the process: a large input must not pay page
        // faults on every repeat that a small one, reusing the heap, does not.
        mallopt(M_MMAP_THRESHOLD, 256 << 20);
        mallopt(M_TRIM_THRESHOLD, 512 << 20);
        // The parser's debug lines, thousands of them, would crowd out the figures.
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    }

    void linear_data()
    {
        QTest::addColumn<Work>("work");
        QTest::addColumn<int>("n");
        const QByteArray get = "GET / HTTP/1.1\r\n";
        const auto request = [](const QByteArray& raw, int pieceSize = 1 << 30) {
            return [raw, pieceSize] { expectComplete(raw, pieceSize); };
        };
        QTest::newRow("parser: continuation lines")
            << Work([=](int n) { return request(get + "X: v\r\n" + QByteArray(" c\r\n").repeated(n) + "\r\n"); })
            << 3000;
        QTest::newRow("parser: escapes in a form body") << Work([=](int n) {
            const QByteArray body = "a=" + QByteArray("%41").repeated(n);
            return request("POST / HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                           QByteArray::number(body.size()) + "\r\n\r\n" + body);
        }) << 30000;
        QTest::newRow("parser: escapes in the query")
            << Work([=](int n) { return request("GET /?a=" + QByteArray("%41").repeated(n) + " HTTP/1.1\r\n\r\n"); })
            << 5000;
        QTest::newRow("parser: header fields") << Work([=](int n) {
            QByteArray fields;
            for (int i = 0; i < n; ++i)
                fields += "X-Field-" + QByteArray::number(i) + ": value\r\n";
            return request(get + fields + "\r\n");
        }) << 25;
        // Below the limits of 1,000 parameters and 100 parts.
        QTest::newRow("parser: form parameters") << Work([=](int n) {
            const QByteArray body = QByteArray("p=v&").repeated(n);
            return request("POST / HTTP/1.1\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        }) << 200;
        QTest::newRow("parser: multipart parts") << Work([=](int n) {
            QByteArray body;
            for (int i = 0; i < n; ++i)
                body += "--b\r\nContent-Disposition: form-data; name=\"f" + QByteArray::number(i) + "\"\r\n\r\n" +
                        QByteArray("v\n").repeated(100) + "\r\n";
            body += "--b--\r\n";
            return request("POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=b\r\nContent-Length: " +
                           QByteArray::number(body.size()) + "\r\n\r\n" + body);
        }) << 20;
        QTest::newRow("parser: a header line in small packets")
            << Work([=](int n) { return request(get + "X: " + QByteArray(n, 'v') + "\r\n\r\n", 16); }) << 15000;
        QTest::newRow("wrapText: no spaces") << Work([](int n) {
            return [text = QString(n, QLatin1Char('x'))] {
                if (PrintJob::wrapText(text, 48).size() != text.size() + (text.size() - 1) / 48)
                    qFatal("wrapText did not cut every 48 characters");
            };
        }) << 65536;
        QTest::newRow("wrapText: a hyphen, then no spaces") << Work([](int n) {
            return [text = "a-" + QString(n, QLatin1Char('x')) + " b"] { PrintJob::wrapText(text, 48); };
        }) << 65536;
        QTest::newRow("wrapText: an indented line, then a line end far away") << Work([](int n) {
            return [text = "a\n" + QString(n, QLatin1Char(' ')) + "x\n" + QString(n, QLatin1Char('y'))] {
                PrintJob::wrapText(text, 3);
            };
        }) << 65536;
        QTest::newRow("JSON pre-scan: keys") << Work([](int n) {
            QByteArray json = "{";
            for (int i = 0; i < n; ++i)
                json += "\"k" + QByteArray::number(i) + "\": [1],";
            json += "\"end\": 0}";
            return [json, n] {
                if (SafeJson::parse(json).object().size() != n + 1)
                    qFatal("the keys were not parsed");
            };
        }) << 5000;
        QTest::newRow("JSON pre-scan: values") << Work([](int n) {
            return [json = "[" + QByteArray("0,").repeated(n) + "0]", n] {
                if (SafeJson::parse(json).array().size() != n + 1)
                    qFatal("the values were not parsed");
            };
        }) << 20000;
        QTest::newRow("JSON pre-scan: nesting") << Work([](int n) {
            return
                [json = QByteArray("{\"a\":[").repeated(n) + QByteArray("]}").repeated(n)] { SafeJson::parse(json); };
        }) << 200;
    }

    void linear()
    {
        QFETCH(Work, work);
        QFETCH(int, n);
        const double ratio = growth(work, n);
        qInfo("%s: 4n costs %.1f times n", QTest::currentDataTag(), ratio);
        // Below a quadratic's 16 with room for n log n (map inserts) and cache effects.
        QVERIFY2(ratio < 8, qPrintable(QStringLiteral("4n costs %1 times n").arg(ratio)));
    }

    // Deeper or larger than any request needs is refused before anything is built.
    void jsonLimits_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QJsonParseError::ParseError>("error");
        const auto nested = [](int depth) { return QByteArray("[").repeated(depth) + QByteArray("]").repeated(depth); };
        const auto none = QJsonParseError::NoError, deep = QJsonParseError::DeepNesting,
                   large = QJsonParseError::DocumentTooLarge;
        QTest::newRow("64 levels") << nested(64) << none;
        QTest::newRow("65 levels") << nested(65) << deep;
        QTest::newRow("objects, 65 levels")
            << QByteArray("{\"a\":").repeated(65) + "1" + QByteArray("}").repeated(65) << deep;
        QTest::newRow("brackets in strings") << "[\"" + QByteArray("[{").repeated(500) + "\"]" << none;
        QTest::newRow("a million open brackets") << QByteArray(1000000, '[') << deep;
        // The outer array and its elements, or an object and its members.
        QTest::newRow("100,000 values") << "[" + QByteArray("1,").repeated(99998) + "1]" << none;
        QTest::newRow("100,001 values") << "[" + QByteArray("1,").repeated(99999) + "1]" << large;
        QByteArray members = "{";
        for (int i = 0; i < 300000; ++i)
            members += "\"k" + QByteArray::number(i) + "\":0,";
        members.chop(1);
        QTest::newRow("300,000 members") << members + "}" << large;
        QTest::newRow("commas in strings") << "[\"" + QByteArray(200000, ',') + "\"]" << none;
    }

    void jsonLimits()
    {
        QFETCH(QByteArray, json);
        QFETCH(QJsonParseError::ParseError, error);
        QJsonParseError parsed;
        QCOMPARE(SafeJson::parse(json, &parsed).isNull(), error != QJsonParseError::NoError);
        QCOMPARE(parsed.error, error);
    }
};

QLK_TEST_MAIN_CORE(TestGrowth)
#include "tst_growth.moc"

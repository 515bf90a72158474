// What a caller controls costs time in proportion to its size (thread CPU time, median of five, n vs 4n).
#include "ReliabilityRig.h"
#include "support/TestMain.h"

#include "app/SafeJson.h"
#include "http/HttpRequest.h"

#include <QLoggingCategory>

#include <functional>
#include <malloc.h>
#include <time.h>

// Given the size, builds the input and returns the work to time on it.
using Work = std::function<std::function<void()>(int n)>;
Q_DECLARE_METATYPE(Work)
Q_DECLARE_METATYPE(QJsonParseError::ParseError)

namespace {

qint64 timeOf(const std::function<void()>& work, int repeats)
{
    timespec start{}, end{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    for (int i = 0; i < repeats; ++i)
        work();
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    return qint64(end.tv_sec - start.tv_sec) * 1000000000 + end.tv_nsec - start.tv_nsec;
}

// Parses a request as it arrives in packets of pieceSize bytes, with the program's limits.
std::function<void()> parsing(const QByteArray& raw, int pieceSize = 1 << 30)
{
    return [raw, pieceSize] {
        HttpRequest request(HttpRequest::Limits{4 << 20, 10000000});
        QByteArray arrived;
        QBuffer socket(&arrived);
        socket.open(QIODevice::ReadOnly);
        for (int at = 0; at < raw.size() && request.status() != HttpRequest::Aborted; at += pieceSize) {
            arrived.append(raw.constData() + at, qMin(pieceSize, raw.size() - at));
            while (socket.bytesAvailable() > 0 && request.status() != HttpRequest::Complete &&
                   request.status() != HttpRequest::Aborted)
                request.readFromSocket(&socket);
        }
        if (request.status() != HttpRequest::Complete)
            qFatal("the request of the growth check was not parsed completely");
    };
}

} // namespace

class TestGrowth : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Freed memory stays with the process: a large input must not pay page faults a small one does not.
        mallopt(M_MMAP_THRESHOLD, 256 << 20);
        mallopt(M_TRIM_THRESHOLD, 512 << 20);
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); // thousands of parser lines
    }

    void linear_data()
    {
        QTest::addColumn<Work>("work");
        QTest::addColumn<int>("n");
        const QByteArray get = "GET / HTTP/1.1\r\n";
        const auto row = [](const char* name, int n, const Work& work) { QTest::newRow(name) << work << n; };
        row("parser: continuation lines", 3000,
            [=](int n) { return parsing(get + "X: v\r\n" + QByteArray(" c\r\n").repeated(n) + "\r\n"); });
        row("parser: escapes in a form body", 30000, [](int n) {
            return parsing(Rig::post("/", "application/x-www-form-urlencoded", "a=" + QByteArray("%41").repeated(n)));
        });
        row("parser: a header line in small packets", 15000,
            [=](int n) { return parsing(get + "X: " + QByteArray(n, 'v') + "\r\n\r\n", 16); });
        const auto wrap = [](const QString& text, int width) { return [=] { PrintJob::wrapText(text, width); }; };
        row("wrapText: no spaces", 65536, [=](int n) { return wrap(QString(n, 'x'), 48); });
        row("wrapText: a hyphen, then no spaces", 65536,
            [=](int n) { return wrap("a-" + QString(n, 'x') + " b", 48); });
        row("wrapText: an indented line, then a line end far away", 65536,
            [=](int n) { return wrap("a\n" + QString(n, ' ') + "x\n" + QString(n, 'y'), 3); });
        const auto scan = [](const QByteArray& json, bool parsed = true) {
            return [=] {
                if (SafeJson::parse(json).isNull() == parsed)
                    qFatal("the JSON of the growth check was not taken as meant");
            };
        };
        row("JSON pre-scan: keys", 5000, [=](int n) {
            QByteArray json = "{\"k\": 0";
            for (int i = 0; i < n; ++i)
                json += ", \"k" + QByteArray::number(i) + "\": [1]";
            return scan(json + "}");
        });
        row("JSON pre-scan: values", 20000, [=](int n) { return scan("[" + QByteArray("0,").repeated(n) + "0]"); });
        row("JSON pre-scan: nesting", 200,
            [=](int n) { return scan(QByteArray("{\"a\":[").repeated(n) + QByteArray("]}").repeated(n), false); });
    }
    void linear()
    {
        QFETCH(Work, work);
        QFETCH(int, n);
        const std::function<void()> smaller = work(n), larger = work(4 * n);
        int repeats = 1; // enough that the smaller size takes 20 ms; the larger gets as many
        while (repeats < (1 << 20) && timeOf(smaller, repeats) < 20000000)
            repeats *= 2;
        std::vector<qint64> small, large;
        for (int run = 0; run < 5; ++run) {
            small.push_back(timeOf(smaller, repeats));
            large.push_back(timeOf(larger, repeats));
        }
        std::nth_element(small.begin(), small.begin() + 2, small.end());
        std::nth_element(large.begin(), large.begin() + 2, large.end());
        const double ratio = double(large[2]) / double(qMax<qint64>(1, small[2]));
        // Below a quadratic's 16 with room for n log n (map inserts) and cache effects.
        QVERIFY2(ratio < 8, qPrintable(QStringLiteral("4n costs %1 times n").arg(ratio)));
    }

    // Deeper, larger or with a repeated key (Qt leaks the earlier value): refused before anything is built.
    void jsonRefused_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QJsonParseError::ParseError>("error");
        const auto row = [](const char* name, const QByteArray& json, QJsonParseError::ParseError error) {
            QTest::newRow(name) << json << error;
        };
        const auto nested = [](int depth) { return QByteArray("[").repeated(depth) + QByteArray("]").repeated(depth); };
        const auto none = QJsonParseError::NoError, deep = QJsonParseError::DeepNesting,
                   large = QJsonParseError::DocumentTooLarge, repeated = QJsonParseError::IllegalValue;
        row("64 levels", nested(64), none);
        row("65 levels", nested(65), deep);
        row("brackets in strings", "[\"" + QByteArray("[{").repeated(500) + "\"]", none);
        row("100,000 values", "[" + QByteArray("1,").repeated(99998) + "1]", none);
        row("100,001 values", "[" + QByteArray("1,").repeated(99999) + "1]", large);
        row("key in a string", "{\"a\": \"\\\"a\\\": 1, \\\"a\\\": 2\"}", none);
        row("key repeated, nested", "{\"job\": [{\"data\": [1], \"data\": \"x\"}]}", repeated);
        row("key repeated, escaped", "{\"a\": [1], \"\\u0061\": 2}", repeated);
        row("key repeated after a nested object", "{\"a\": {\"a\": 1, \"b\": 2}, \"c\": 1, \"a\": 3}", repeated);
        // The parser takes the keys before it meets the end.
        row("key repeated, object left open", "{\"a\": [1], \"a\": 2", repeated);
        row("key repeated, string left open", "{\"a\": [1], \"a\": 2, \"b\": \"x", repeated);
    }
    void jsonRefused()
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

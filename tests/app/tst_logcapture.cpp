#include "app/LogCapture.h"
#include "core/PrintClient.h"
#include "support/TestMain.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QThread>

#include <memory>
#include <vector>

class TestLogCapture : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_client = std::make_unique<PrintClient>();
        LogCapture::install(m_client.get());
    }

    void cleanup()
    {
        LogCapture::uninstall();
        m_client.reset();
    }

    void lineFormat_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("expected");
        const QString head = QStringLiteral("[2026-03-04 05:06:07.089]: \"hello\"");
        QTest::newRow("no source position") << QByteArray() << 0 << head;
        QTest::newRow("path") << QByteArray("/src/http/HttpListener.cpp") << 42
                              << head + QStringLiteral("\n\tHttpListener.cpp:42 void f()");
        QTest::newRow("bare file name") << QByteArray("main.cpp") << 7
                                        << head + QStringLiteral("\n\tmain.cpp:7 void f()");
    }

    void lineFormat()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, line);
        QFETCH(QString, expected);
        const QMessageLogContext context(file.isEmpty() ? nullptr : file.constData(), line, "void f()", "default");
        const QDateTime when(QDate(2026, 3, 4), QTime(5, 6, 7, 89));
        QCOMPARE(LogCapture::formatLine(when, context, QStringLiteral("\"hello\"")), expected);
    }

    void newestFirstAndAtMostHundred()
    {
        for (int i = 1; i <= 101; ++i)
            qDebug("message %d", i);
        const QStringList lines = m_client->debugMessages();
        QCOMPARE(lines.size(), LogCapture::maxLines);
        QVERIFY2(lines.first().endsWith(QLatin1String("]: message 101")), qPrintable(lines.first()));
        QVERIFY2(lines.last().endsWith(QLatin1String("]: message 2")), qPrintable(lines.last()));
        const QRegularExpression stamp(QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]: "));
        QVERIFY(stamp.match(lines.first()).hasMatch());
    }

    void onlyDebugAndCriticalAreCaptured()
    {
        qWarning("a warning");
        qInfo("some info");
        QVERIFY(m_client->debugMessages().isEmpty());
        qCritical("a critical");
        qDebug("a debug");
        const QStringList lines = m_client->debugMessages();
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.at(0).endsWith(QLatin1String("a debug")));
        QVERIFY(lines.at(1).endsWith(QLatin1String("a critical")));
    }

    void threadsLoseNothing()
    {
        const int threads = 4;
        const int each = 25;
        std::vector<std::unique_ptr<QThread>> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back(QThread::create([t] {
                for (int i = 0; i < each; ++i)
                    qDebug("thread %d line %d", t, i);
            }));
        }
        for (auto& worker : workers)
            worker->start();
        for (auto& worker : workers)
            QVERIFY(worker->wait(10000));

        const QStringList lines = m_client->debugMessages();
        QCOMPARE(lines.size(), threads * each);
        for (int t = 0; t < threads; ++t) {
            int previous = each;
            for (const QString& line : lines) {
                const QString tag = QStringLiteral("thread %1 line ").arg(t);
                const int at = line.indexOf(tag);
                if (at < 0)
                    continue;
                // Newest first: each thread's own lines appear in falling order.
                const int number = line.mid(at + tag.size()).toInt();
                QVERIFY(number < previous);
                previous = number;
            }
            QCOMPARE(previous, 0);
        }
    }

private:
    std::unique_ptr<PrintClient> m_client;
};

QLK_TEST_MAIN_CORE(TestLogCapture)
#include "tst_logcapture.moc"

#include "app/LogCapture.h"
#include "core/PrintClient.h"
#include "support/TestMain.h"

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
        qCritical("a critical");
        qDebug("a debug");
        const QStringList lines = m_client->debugMessages();
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.at(0).endsWith(QLatin1String("]: a debug")));
        QVERIFY(lines.at(1).endsWith(QLatin1String("]: a critical")));
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
            workers.back()->start();
        }
        for (auto& worker : workers)
            QVERIFY(worker->wait(10000));

        const QStringList lines = m_client->debugMessages();
        QCOMPARE(lines.size(), threads * each);
        // Newest first: each thread's own lines appear in falling order, none missing.
        for (int t = 0; t < threads; ++t) {
            const QString tag = QStringLiteral("thread %1 line ").arg(t);
            int expected = each;
            for (const QString& line : lines) {
                const int at = line.indexOf(tag);
                if (at >= 0)
                    QCOMPARE(line.mid(at + tag.size()).toInt(), --expected);
            }
            QCOMPARE(expected, 0);
        }
    }

private:
    std::unique_ptr<PrintClient> m_client;
};

QLK_TEST_MAIN_CORE(TestLogCapture)
#include "tst_logcapture.moc"

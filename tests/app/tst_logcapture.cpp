#include "app/LogCapture.h"
#include "core/PrintClient.h"
#include "support/TestMain.h"

#include <QRegularExpression>
#include <QThread>

#include <memory>
#include <optional>
#include <vector>

class TestLogCapture : public QObject
{
    Q_OBJECT

private slots:
    void init() { LogCapture::install(&m_client.emplace()); }

    void cleanup()
    {
        LogCapture::uninstall();
        m_client.reset();
    }

    // Debug and critical lines only, newest first, at most a hundred.
    void newestFirstAtMostHundred()
    {
        qCritical("a critical");
        qWarning("a warning");
        qInfo("some info");
        for (int i = 1; i < LogCapture::maxLines; ++i)
            qDebug("message %d", i);
        QStringList lines = m_client->debugMessages();
        QCOMPARE(lines.size(), LogCapture::maxLines);
        QVERIFY2(lines.last().endsWith(QLatin1String("]: a critical")), qPrintable(lines.last()));

        qDebug("message %d", LogCapture::maxLines);
        lines = m_client->debugMessages();
        QCOMPARE(lines.size(), LogCapture::maxLines);
        const QRegularExpression stamp(
            QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]: message 100$"));
        QVERIFY2(stamp.match(lines.first()).hasMatch(), qPrintable(lines.first()));
        QVERIFY2(lines.last().endsWith(QLatin1String("]: message 1")), qPrintable(lines.last()));
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
    std::optional<PrintClient> m_client;
};

QLK_TEST_MAIN_CORE(TestLogCapture)
#include "tst_logcapture.moc"

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
        QCOMPARE(m_client->debugMessages().size(), LogCapture::maxLines);
        QVERIFY2(m_client->debugMessages().last().endsWith("]: a critical"),
                 qPrintable(m_client->debugMessages().last()));

        qDebug("message 100");
        const QStringList lines = m_client->debugMessages();
        QCOMPARE(lines.size(), LogCapture::maxLines);
        const QRegularExpression stamp("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]: message 100$");
        QVERIFY2(stamp.match(lines.first()).hasMatch(), qPrintable(lines.first()));
        QVERIFY2(lines.last().endsWith("]: message 1"), qPrintable(lines.last()));
    }

    // Lines logged at once on four threads all arrive, each thread's in its order.
    void threadsLoseNothing()
    {
        std::vector<std::unique_ptr<QThread>> workers;
        for (int t = 0; t < 4; ++t) {
            workers.emplace_back(QThread::create([t] {
                for (int i = 0; i < 25; ++i)
                    qDebug("thread %d line %d", t, i);
            }));
            workers.back()->start();
        }
        for (auto& worker : workers)
            QVERIFY(worker->wait(10000));

        const QStringList lines = m_client->debugMessages();
        QCOMPARE(lines.size(), 100);
        for (int t = 0; t < 4; ++t) {
            const QString tag = QStringLiteral("thread %1 line ").arg(t);
            int expected = 25;
            for (const QString& line : lines) {
                if (line.contains(tag))
                    QCOMPARE(line.section(tag, 1).toInt(), --expected);
            }
            QCOMPARE(expected, 0);
        }
    }

private:
    std::optional<PrintClient> m_client;
};

QLK_TEST_MAIN_CORE(TestLogCapture)
#include "tst_logcapture.moc"

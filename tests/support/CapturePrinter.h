#pragma once

#include "CupsQueue.h"

#include <QThread>

#include <memory>
#include <mutex>

// A raw CUPS queue to a loopback listener that records each connection (CUPS opens one per job) as a job,
// on a thread of its own so jobs come in while the test's thread is busy.
class CapturePrinter
{
public:
    explicit CapturePrinter(const QString& queuePrefix = QStringLiteral("qlk-capture"));
    ~CapturePrinter();

    bool isValid() const { return m_error.isEmpty() && m_queue->isValid(); }
    QString errorString() const { return m_error.isEmpty() ? m_queue->errorString() : m_error; }
    QString queueName() const { return m_queue->name(); }
    CupsQueue& queue() { return *m_queue; }

    // The jobs received completely (the connection was closed), in order.
    QList<QByteArray> jobs() const;
    bool waitForJobs(int count, int timeoutMs = 30000) const
    {
        return QTest::qWaitFor([&] { return jobs().size() >= count; }, timeoutMs);
    }

private:
    std::unique_ptr<QThread> m_thread;
    QString m_error;
    std::unique_ptr<CupsQueue> m_queue;
    mutable std::mutex m_mutex; // standard, so that the thread sanitizer sees it
    QList<QByteArray> m_jobs;
};

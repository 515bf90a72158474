#pragma once

#include "CupsQueue.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QThread>

#include <memory>
#include <mutex>

class QObject;
class QTcpServer;

// A receipt printer for tests: a raw CUPS queue sending to a loopback listener
// that records each connection's bytes as one job (CUPS opens one per job). The
// listener has a thread of its own, so jobs come in while the test's thread is busy.
class CapturePrinter
{
public:
    explicit CapturePrinter(const QString& queuePrefix = QStringLiteral("qlk-capture"));
    ~CapturePrinter();
    CapturePrinter(const CapturePrinter&) = delete;
    CapturePrinter& operator=(const CapturePrinter&) = delete;

    bool isValid() const { return m_error.isEmpty() && m_queue && m_queue->isValid(); }
    QString errorString() const { return !m_error.isEmpty() || !m_queue ? m_error : m_queue->errorString(); }
    QString queueName() const { return m_queue ? m_queue->name() : QString(); }
    CupsQueue& queue() { return *m_queue; }

    // The jobs received completely (the connection was closed), in order.
    QList<QByteArray> jobs() const;
    // Runs the caller's event loop until at least count jobs are in.
    bool waitForJobs(int count, int timeoutMs = 30000) const;

private:
    QThread m_thread;
    QObject* m_context = nullptr;   // lives on m_thread
    QTcpServer* m_server = nullptr; // lives on m_thread
    QString m_error;
    std::unique_ptr<CupsQueue> m_queue;
    // Standard, so that the thread sanitizer sees it.
    mutable std::mutex m_mutex; // standard, so that the thread sanitizer sees it
    QList<QByteArray> m_jobs;
};

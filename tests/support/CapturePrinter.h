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

// A receipt printer for tests: a loopback TCP listener that records what it is
// sent, behind a raw CUPS queue of its own. CUPS opens one connection per job,
// so each connection's bytes are one job. The listener runs on a thread of its
// own, so jobs are taken in even while the test's thread is busy.
//
//     CapturePrinter printer;
//     QVERIFY2(printer.isValid(), qPrintable(printer.errorString()));
//     ... print to printer.queueName() ...
//     QVERIFY(printer.waitForJobs(1));
//     QCOMPARE(printer.jobs().first(), expectedBytes);
class CapturePrinter
{
public:
    explicit CapturePrinter(const QString& queuePrefix = QStringLiteral("qlk-capture"));
    ~CapturePrinter();
    CapturePrinter(const CapturePrinter&) = delete;
    CapturePrinter& operator=(const CapturePrinter&) = delete;

    bool isValid() const;
    QString errorString() const;

    QString queueName() const { return m_queue ? m_queue->name() : QString(); }
    CupsQueue& queue() { return *m_queue; }
    quint16 port() const { return m_port; }

    // The jobs received completely (the connection was closed), in order.
    QList<QByteArray> jobs() const;
    // Waits, running the caller's event loop, until at least count jobs are in.
    bool waitForJobs(int count, int timeoutMs = 30000) const;

private:
    void record(const QByteArray& job);

    QThread m_thread;
    QObject* m_context = nullptr;   // lives on m_thread
    QTcpServer* m_server = nullptr; // lives on m_thread
    quint16 m_port = 0;
    QString m_error;
    std::unique_ptr<CupsQueue> m_queue;
    // Standard, so that the thread sanitizer sees it; it also orders the
    // listener set-up on m_thread before the constructor reads its port.
    mutable std::mutex m_mutex;
    QList<QByteArray> m_jobs;
};

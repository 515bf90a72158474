#include "CapturePrinter.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

CapturePrinter::CapturePrinter(const QString& queuePrefix)
{
    m_thread.setObjectName(QStringLiteral("CapturePrinter"));
    m_thread.start();
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    // Blocking: the port must be known before the queue can point at it.
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_server = new QTcpServer;
            if (!m_server->listen(QHostAddress::LocalHost)) {
                m_error = QStringLiteral("capture listener: %1").arg(m_server->errorString());
                return;
            }
            m_port = m_server->serverPort();
            QObject::connect(m_server, &QTcpServer::newConnection, m_server, [this] {
                while (QTcpSocket* socket = m_server->nextPendingConnection()) {
                    auto buffer = std::make_shared<QByteArray>();
                    QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                     [socket, buffer] { buffer->append(socket->readAll()); });
                    // CUPS shuts its side down once the job is sent; closing ours lets
                    // the backend finish the job.
                    QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket, buffer] {
                        buffer->append(socket->readAll());
                        record(*buffer);
                        socket->deleteLater();
                    });
                }
            });
        },
        Qt::BlockingQueuedConnection);
    {
        std::lock_guard<std::mutex> handover(m_mutex);
    }
    if (!m_error.isEmpty())
        return;
    m_queue = std::make_unique<CupsQueue>(CupsQueue::uniqueName(queuePrefix),
                                          QStringLiteral("socket://127.0.0.1:%1").arg(m_port));
}

CapturePrinter::~CapturePrinter()
{
    m_queue.reset();
    // Blocking: the listener and its sockets must go on their own thread.
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            // Connections still open are no jobs; their sockets must not report while dying.
            for (QTcpSocket* socket : m_server->findChildren<QTcpSocket*>())
                QObject::disconnect(socket, nullptr, nullptr, nullptr);
            delete m_server;
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_context;
}

bool CapturePrinter::isValid() const
{
    return m_error.isEmpty() && m_queue && m_queue->isValid();
}

QString CapturePrinter::errorString() const
{
    if (!m_error.isEmpty())
        return m_error;
    return m_queue ? m_queue->errorString() : QString();
}

QList<QByteArray> CapturePrinter::jobs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_jobs;
}

bool CapturePrinter::waitForJobs(int count, int timeoutMs) const
{
    QElapsedTimer timer;
    timer.start();
    while (jobs().size() < count) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

void CapturePrinter::record(const QByteArray& job)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_jobs.append(job);
}

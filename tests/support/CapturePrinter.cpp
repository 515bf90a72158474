#include "CapturePrinter.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

CapturePrinter::CapturePrinter(const QString& queuePrefix)
{
    m_thread.start();
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    quint16 port = 0;
    // Blocking: the port must be known before the queue can point at it.
    QMetaObject::invokeMethod(
        m_context,
        [this, &port] {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_server = new QTcpServer;
            if (!m_server->listen(QHostAddress::LocalHost)) {
                m_error = QStringLiteral("capture listener: %1").arg(m_server->errorString());
                return;
            }
            port = m_server->serverPort();
            QObject::connect(m_server, &QTcpServer::newConnection, m_server, [this] {
                while (QTcpSocket* socket = m_server->nextPendingConnection()) {
                    auto buffer = std::make_shared<QByteArray>();
                    QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                     [socket, buffer] { buffer->append(socket->readAll()); });
                    // CUPS shuts its side once the job is sent; closing ours lets the backend finish.
                    QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket, buffer] {
                        buffer->append(socket->readAll());
                        std::lock_guard<std::mutex> lock(m_mutex);
                        m_jobs.append(*buffer);
                        socket->deleteLater();
                    });
                }
            });
        },
        Qt::BlockingQueuedConnection);
    {
        std::lock_guard<std::mutex> handover(m_mutex);
    } // the thread sanitizer sees the set-up handed over
    if (m_error.isEmpty())
        m_queue = std::make_unique<CupsQueue>(CupsQueue::uniqueName(queuePrefix),
                                              QStringLiteral("socket://127.0.0.1:%1").arg(port));
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

QList<QByteArray> CapturePrinter::jobs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_jobs;
}

bool CapturePrinter::waitForJobs(int count, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return jobs().size() >= count; }, timeoutMs);
}

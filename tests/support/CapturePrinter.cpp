#include "CapturePrinter.h"

#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>

#include <future>

CapturePrinter::CapturePrinter(const QString& queuePrefix)
{
    std::promise<quint16> listening;
    m_thread.reset(QThread::create([this, &listening] {
        QTcpServer server;
        if (!server.listen(QHostAddress::LocalHost)) {
            m_error = QStringLiteral("capture listener: %1").arg(server.errorString());
            return listening.set_value(0);
        }
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                 [socket, buffer] { buffer->append(socket->readAll()); });
                // CUPS shuts its side once the job is sent; closing ours lets the backend finish.
                QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket, buffer] {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_jobs.append(*buffer + socket->readAll());
                    socket->deleteLater();
                });
            }
        });
        listening.set_value(server.serverPort());
        QEventLoop().exec(); // until the thread is told to quit (at once if it was told already)
        // Connections still open are no jobs; their sockets must not report while dying.
        for (QTcpSocket* socket : server.findChildren<QTcpSocket*>())
            QObject::disconnect(socket, nullptr, nullptr, nullptr);
    }));
    m_thread->start();
    m_queue = std::make_unique<CupsQueue>(CupsQueue::uniqueName(queuePrefix),
                                          QStringLiteral("socket://127.0.0.1:%1").arg(listening.get_future().get()));
}

CapturePrinter::~CapturePrinter()
{
    m_queue.reset();
    m_thread->quit();
    m_thread->wait();
}

QList<QByteArray> CapturePrinter::jobs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_jobs;
}

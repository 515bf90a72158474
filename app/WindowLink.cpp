#include "app/WindowLink.h"

#include <QLocalSocket>

namespace {
constexpr QDataStream::Version streamVersion = QDataStream::Qt_5_15;
}

WindowLink::WindowLink(int descriptor, QObject* parent)
    : QObject(parent)
    , m_socket(new QLocalSocket(this))
{
    m_socket->setSocketDescriptor(descriptor);
    m_stream.setDevice(m_socket);
    m_stream.setVersion(streamVersion);
    connect(m_socket, &QLocalSocket::readyRead, this, &WindowLink::readMessages);
    connect(m_socket, &QLocalSocket::disconnected, this, &WindowLink::closed);
}

bool WindowLink::isOpen() const
{
    return m_socket->state() == QLocalSocket::ConnectedState;
}

qint64 WindowLink::bytesToWrite() const
{
    return m_socket->bytesToWrite();
}

void WindowLink::send(const QVariantMap& message)
{
    if (!isOpen())
        return;
    QByteArray block;
    QDataStream out(&block, QIODevice::WriteOnly);
    out.setVersion(streamVersion);
    out << message;
    m_socket->write(block);
    m_socket->flush();
}

void WindowLink::readMessages()
{
    while (isOpen()) {
        m_stream.startTransaction();
        QVariantMap message;
        m_stream >> message;
        if (!m_stream.commitTransaction()) {
            if (m_stream.status() == QDataStream::ReadCorruptData) {
                m_socket->abort();
                emit closed();
            }
            return;
        }
        emit received(message);
    }
}

#pragma once

#include <QDataStream>
#include <QObject>
#include <QVariantMap>

class QLocalSocket;

// One end of the private socket pair between the tray program and its
// window's process: whole messages (variant maps) each way, in order. Nobody
// else can connect to it: the pair has no name, and the only other end is
// handed to the window's process when it starts.
class WindowLink : public QObject
{
    Q_OBJECT

public:
    // Takes over a connected socket of a pair.
    explicit WindowLink(int descriptor, QObject* parent = nullptr);

    bool isOpen() const;
    // Sent but not yet taken by the other end.
    qint64 bytesToWrite() const;
    // Written at once as far as the socket takes it, so a message sent just before quitting arrives.
    void send(const QVariantMap& message);

signals:
    void received(const QVariantMap& message);
    // The other end went away or sent what is not a message.
    void closed();

private:
    void readMessages();

    QLocalSocket* m_socket;
    QDataStream m_stream;
};

#include "core/ServerSwitch.h"

#include "http/HttpListener.h"

#include <QTimer>

ServerSwitch::ServerSwitch(QObject* parent)
    : QObject(parent)
    , m_retryTimer(new QTimer(this))
{
    m_retryTimer->setInterval(defaultRetryIntervalMs);
    connect(m_retryTimer, &QTimer::timeout, this, &ServerSwitch::retry);
}

void ServerSwitch::setListener(HttpListener* listener, quint16 port, bool online)
{
    m_listener = listener;
    m_port = port;
    m_online = online;
    // The listener has tried its port already, when it was built.
    if (online && !isListening())
        settle(true);
    else
        emit stateChanged();
}

void ServerSwitch::setRetryInterval(int ms)
{
    m_retryTimer->setInterval(ms);
}

bool ServerSwitch::isListening() const
{
    return m_listener && m_listener->isListening();
}

void ServerSwitch::switchTo(bool online)
{
    if (!m_listener)
        return;
    m_online = online;
    if (online) {
        if (!isListening()) {
            m_listener->listen();
            settle(true);
        }
        return;
    }
    m_retryTimer->stop();
    m_failure.clear();
    if (isListening()) {
        m_listener->close();
        emit switched(Change::Closed);
    }
    emit stateChanged();
}

void ServerSwitch::retry()
{
    if (!m_online || !m_listener || isListening()) {
        m_retryTimer->stop();
        return;
    }
    m_listener->listen();
    settle(false);
}

void ServerSwitch::settle(bool afterSwitching)
{
    if (isListening()) {
        m_retryTimer->stop();
        m_failure.clear();
        emit switched(Change::Opened);
    } else {
        m_failure = describeFailure();
        if (!m_retryTimer->isActive())
            m_retryTimer->start();
        // A retry that fails again tells the user nothing new.
        if (afterSwitching)
            emit switched(Change::Failed);
    }
    emit stateChanged();
}

QString ServerSwitch::describeFailure() const
{
    if (!m_listener->tlsError().isEmpty())
        return tr("Serviço de impressão parado: não foi possível usar o certificado TLS (%1).")
            .arg(m_listener->tlsError());
    QString cause;
    switch (m_listener->serverError()) {
    case QAbstractSocket::AddressInUseError:
        cause = tr("já está a ser usada por outro programa");
        break;
    case QAbstractSocket::SocketAccessError:
        cause = tr("sem permissão para a usar");
        break;
    default:
        cause = m_listener->errorString();
    }
    return tr("Serviço de impressão parado: não foi possível usar a porta %1 (%2).").arg(m_port).arg(cause);
}

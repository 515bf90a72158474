#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class HttpListener;
class QTimer;

// Keeps the HTTP server in the state the user's switch asks for. A port that
// cannot be bound (another program holds it), or a TLS certificate that cannot
// be used, leaves the service stopped, never shown as on: the cause is kept for
// the user, and listening is tried again every 30 s while the switch stays on.
class ServerSwitch : public QObject
{
    Q_OBJECT

public:
    enum class Change {
        Opened, // listening now
        Closed, // switched off
        Failed, // asked on, the port could not be bound or TLS not set up
    };
    Q_ENUM(Change)

    static constexpr int defaultRetryIntervalMs = 30000;

    explicit ServerSwitch(QObject* parent = nullptr);

    // The server as built (listening, or closed for a switch that was off, or
    // unbound), the port it was given and the switch.
    void setListener(HttpListener* listener, quint16 port, bool online);
    // Follows the switch; reports a change by switched().
    void switchTo(bool online);
    void setRetryInterval(int ms);

    HttpListener* listener() const { return m_listener; }
    bool isListening() const;
    // Why the switch is on and nothing listens, for the user; empty otherwise.
    QString failure() const { return m_failure; }

signals:
    void switched(ServerSwitch::Change change);
    // Listening or the failure changed.
    void stateChanged();

private:
    void retry();
    // After a bind attempt: listening, or failed and tried again later.
    void settle(bool afterSwitching);
    QString describeFailure() const;

    QPointer<HttpListener> m_listener;
    quint16 m_port = 0;
    bool m_online = false;
    QString m_failure;
    QTimer* m_retryTimer;
};

#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM (a service manager, a shutdown, a test rig) and SIGINT (Ctrl+C) end
// the event loop like the tray's quit entry, so the program cleans up and
// returns its exit code instead of dying where it stood. The handler only
// writes a byte to a socket pair; the quit happens on the main thread's event
// loop. One per process; nothing to do on Windows. Should the socket pair or
// the handlers fail, the signals simply kill as before.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    void quitOnSignal();

    QSocketNotifier* m_notifier = nullptr;
};

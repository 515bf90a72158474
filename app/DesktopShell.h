#pragma once

#include <QObject>

class PrintClient;
class TrayIcon;
class WindowHost;

// The program on a desktop: the tray icon, and the window behind it, loaded
// when something asks for it (the tray, a second copy of the program, the
// first start, or a session without a tray to reach it from).
class DesktopShell : public QObject
{
    Q_OBJECT

public:
    explicit DesktopShell(PrintClient* client, QObject* parent = nullptr);

    TrayIcon* tray() const { return m_tray; }
    WindowHost* windowHost() const { return m_windowHost; }

public slots:
    // The window at start: on a first start, or when no tray can reach it.
    void start();

private:
    PrintClient* m_client;
    TrayIcon* m_tray;
    WindowHost* m_windowHost;
};

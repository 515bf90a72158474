#pragma once

#include <QObject>

class PrintClient;
class TrayIcon;
class WindowHost;
class WindowProcess;

// The program on a desktop: the tray icon, and the window behind it, loaded
// when something asks for it (the tray, a second copy of the program, the
// first start, or a session without a tray to reach it from). The program
// runs the window in a process of its own; the UI tests load it in theirs.
class DesktopShell : public QObject
{
    Q_OBJECT

public:
    enum WindowPlace { WindowInThisProcess, WindowInOwnProcess };

    explicit DesktopShell(PrintClient* client, WindowPlace place = WindowInThisProcess, QObject* parent = nullptr);

    TrayIcon* tray() const { return m_tray; }
    // One of the two, as the window's place says.
    WindowHost* windowHost() const { return m_windowHost; }
    WindowProcess* windowProcess() const { return m_windowProcess; }

public slots:
    // The window at start: on a first start, or when no tray can reach it.
    void start();
    void showWindow();
    // The window may be asked for soon: its documents load hidden, so it shows at once.
    void prepareWindow();

private:
    PrintClient* m_client;
    TrayIcon* m_tray;
    WindowHost* m_windowHost = nullptr;
    WindowProcess* m_windowProcess = nullptr;
};

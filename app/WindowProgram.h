#pragma once

#include <QObject>

class ClientMirror;
class WindowHost;
class WindowLink;

// The window's process: the window's documents over a mirror of the tray
// program's state object, on the socket the tray program handed over. It is
// done once the window has been released (hidden a while), after telling the
// tray program what the window showed, or when the tray program goes.
class WindowProgram : public QObject
{
    Q_OBJECT

public:
    explicit WindowProgram(WindowLink* link, QObject* parent = nullptr);
    ~WindowProgram() override;

    ClientMirror* client() const { return m_client; }
    WindowHost* host() const { return m_host; }

    // The process's main function for --window-channel.
    static int main(int argc, char* argv[], int channel);

signals:
    void finished();

private:
    ClientMirror* m_client;
    WindowHost* m_host;
    bool m_released = false;
};

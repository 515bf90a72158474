#pragma once

#include <QObject>
#include <QVariantMap>

class PrintClient;
class QProcess;
class WindowLink;

// The window in a process of its own (this program, run with
// --window-channel): started when the window is to show, and gone once it has
// stayed hidden a while. The tray program itself never loads the declarative
// engine, so what the window used goes back to the system with its process.
// What the window showed comes back with the next one.
class WindowProcess : public QObject
{
    Q_OBJECT

public:
    explicit WindowProcess(PrintClient* client, QObject* parent = nullptr);
    ~WindowProcess() override;

public slots:
    // Starts the window's process if need be; it shows, raises and activates the window.
    void show();
    // Starts the window's process if none runs; it loads the documents hidden (see WindowHost::prepare).
    void prepare();

private:
    bool start();
    void onReceived(const QVariantMap& message);
    void drop();

    PrintClient* m_client;
    QProcess* m_process = nullptr;
    WindowLink* m_link = nullptr;
    QVariantMap m_place;
    // A show or a prepare sent that the window's process has not yet answered.
    bool m_showPending = false;
    bool m_preparePending = false;
};

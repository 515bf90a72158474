#pragma once

#include <QPointer>
#include <QString>
#include <QVariant>

#include <functional>

class PrintClient;
class QObject;
class QQmlApplicationEngine;
class QQuickItem;
class QQuickWindow;

// Starts the user interface the way the program does: a real PrintClient on the
// test's isolated settings, the translation of the system language from the build
// folder, the published values and qrc:/main.qml in a QQmlApplicationEngine.
class UiRig
{
public:
    struct Options
    {
        bool debugMode = false;
        // Runs after PrintClient::init and before the documents load.
        std::function<void(PrintClient*)> beforeLoad;
    };

    UiRig()
        : UiRig(Options{})
    {}
    explicit UiRig(const Options& options);
    // The engine and its window go; the PrintClient stays (it is never destroyed
    // in the program either) but is silenced so it cannot disturb the next rig.
    ~UiRig();

    // Once per process, before the first rig, as the entry point does: the
    // translation of QLocale::system(), the types of the documents, the resources.
    static void setUpProcess();
    static QString language();

    bool loaded() const { return m_window != nullptr; }
    PrintClient* client() const { return m_client; }
    QQmlApplicationEngine* engine() const { return m_engine; }
    QQuickWindow* window() const { return m_window; }

    // Any object of the documents by objectName: items (also delegates and the
    // overlay layer) and non-visual objects such as the tray icon and its menu.
    QObject* object(const QString& name, QQuickItem* under = nullptr) const;
    QQuickItem* item(const QString& name, QQuickItem* under = nullptr) const;

    QString state() const;
    void setState(const QString& state);
    // Shows the window and waits until it is on screen.
    bool showWindow();
    // A left click in the middle of a visible item.
    bool click(QQuickItem* item);
    bool click(const QString& name) { return click(item(name)); }
    // Saves the window's content under build/screenshots/<language>/<name>.png.
    bool screenshot(const QString& name);

private:
    PrintClient* m_client = nullptr;
    QQmlApplicationEngine* m_engine = nullptr;
    QPointer<QQuickWindow> m_window;
};

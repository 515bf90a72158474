#pragma once

#include <QPointer>
#include <QString>

#include <functional>

class PrintClient;
class QObject;
class QQmlApplicationEngine;
class QQuickItem;
class QQuickWindow;

// Starts the user interface the way the program does: a real PrintClient on the
// test's isolated settings, the published values and qrc:/main.qml.
class UiRig
{
public:
    // beforeLoad runs after PrintClient::init and before the documents load.
    explicit UiRig(bool debugMode = false, const std::function<void(PrintClient*)>& beforeLoad = {});
    // The PrintClient stays (the program never destroys it either) but is silenced.
    ~UiRig();

    // Once per process: the translation of the system language, the types, the resources.
    static void setUpProcess();
    static QString language();

    PrintClient* client() const { return m_client; }
    QQmlApplicationEngine* engine() const { return m_engine; }
    QQuickWindow* window() const { return m_window; }

    // Any object by objectName, items first (delegates, overlay), then non-visual ones.
    QObject* object(const QString& name, QQuickItem* under = nullptr) const;
    QQuickItem* item(const QString& name, QQuickItem* under = nullptr) const;
    bool shown(const QString& name, QQuickItem* under = nullptr) const;

    QString state() const;
    void setState(const QString& state);
    bool showWindow();
    // A left click in the middle of a visible item.
    bool click(QQuickItem* item);
    bool click(const QString& name) { return click(item(name)); }
    // Saves the window under build/screenshots/<language>/<name>.png.
    bool screenshot(const QString& name);

private:
    PrintClient* m_client = nullptr;
    QQmlApplicationEngine* m_engine = nullptr;
    QPointer<QQuickWindow> m_window;
};

#pragma once

#include <QSystemTrayIcon>

#include <memory>

class PrintClient;
class QAction;
class QMenu;

// The icon in the notification area and its menu, drawn by the widgets tray:
// with the window closed the program needs no declarative engine at all.
// The icon follows whether the server listens, the menu entry the switch,
// and every message of the state object becomes a tray notification.
class TrayIcon : public QSystemTrayIcon
{
    Q_OBJECT
    Q_PROPERTY(bool available READ available CONSTANT)
    // The resource of the icon shown, "on" or "off".
    Q_PROPERTY(QString iconSource READ iconSource NOTIFY iconSourceChanged)

public:
    explicit TrayIcon(PrintClient* client, QObject* parent = nullptr);
    ~TrayIcon() override;

    static bool available() { return isSystemTrayAvailable(); }
    QString iconSource() const { return m_iconSource; }

signals:
    // A click on the icon or its notification, or "Abrir".
    void openRequested();
    // The menu opens: "Abrir" may follow.
    void menuOpening();
    void quitRequested();
    void iconSourceChanged();

private:
    void showServerState();
    void notify(const QString& text);

    PrintClient* m_client;
    std::unique_ptr<QMenu> m_menu;
    QAction* m_service = nullptr;
    // A notification clicked, the window not yet opened for it.
    bool m_messageClicked = false;
    QString m_iconSource;
};

#include "app/TrayIcon.h"

#include "core/PrintClient.h"

#include <QAction>
#include <QMenu>
#include <QTimer>

#include <utility>

TrayIcon::TrayIcon(PrintClient* client, QObject* parent)
    : QSystemTrayIcon(parent)
    , m_client(client)
    , m_menu(std::make_unique<QMenu>())
{
    setObjectName(QStringLiteral("trayIcon"));
    QAction* open = m_menu->addAction(tr("Abrir"));
    open->setObjectName(QStringLiteral("trayOpen"));
    m_service = m_menu->addAction(QString());
    m_service->setObjectName(QStringLiteral("trayService"));
    QAction* quit = m_menu->addAction(tr("Sair"));
    quit->setObjectName(QStringLiteral("trayQuit"));
    setContextMenu(m_menu.get());

    connect(open, &QAction::triggered, this, &TrayIcon::openRequested);
    connect(m_menu.get(), &QMenu::aboutToShow, this, &TrayIcon::menuOpening);
    connect(m_service, &QAction::triggered, this, [this] { m_client->setServerActive(!m_client->serverActive()); });
    connect(quit, &QAction::triggered, this, &TrayIcon::quitRequested);
    // A right click opens the menu, and only that.
    connect(this, &QSystemTrayIcon::activated, this, [this](ActivationReason reason) {
        m_messageClicked = false;
        if (reason != Context)
            emit openRequested();
    });
    // Qt's X11 tray takes any press on the icon while a notification shows for a click on the notification, just
    // before the press's own activation: a right click there must still open only the menu.
    connect(this, &QSystemTrayIcon::messageClicked, this, [this] {
        m_messageClicked = true;
        QTimer::singleShot(0, this, [this] {
            if (std::exchange(m_messageClicked, false))
                emit openRequested();
        });
    });
    connect(m_client, &PrintClient::serverStateChanged, this, &TrayIcon::showServerState);
    connect(m_client, &PrintClient::serverActiveChanged, this, &TrayIcon::showServerState);
    connect(m_client, &PrintClient::messageChanged, this, &TrayIcon::notify);

    showServerState();
    setVisible(true);
    // A port that could not be bound at start was reported before the tray existed.
    if (!m_client->serverError().isEmpty())
        notify(m_client->serverError());
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::showServerState()
{
    // On only while the server listens; the menu entry follows the switch.
    const QString source = m_client->serverListening() ? QStringLiteral("qrc:/imgs/ic_systray_on.png")
                                                       : QStringLiteral("qrc:/imgs/ic_systray_off.png");
    if (source != m_iconSource) {
        m_iconSource = source;
        setIcon(QIcon(source.mid(3)));
        emit iconSourceChanged();
    }
    m_service->setText(m_client->serverActive() ? tr("Desligar serviço") : tr("Ligar serviço"));
    setToolTip(m_client->serverError().isEmpty() ? tr("Quorva Link") : m_client->serverError());
}

void TrayIcon::notify(const QString& text)
{
    if (available() && supportsMessages())
        showMessage(QStringLiteral("Quorva Link"), text);
}

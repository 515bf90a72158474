#include "app/DesktopShell.h"

#include "app/TrayIcon.h"
#include "app/WindowHost.h"
#include "core/PrintClient.h"

#include <QCoreApplication>

DesktopShell::DesktopShell(PrintClient* client, QObject* parent)
    : QObject(parent)
    , m_client(client)
    , m_tray(new TrayIcon(client, this))
    , m_windowHost(new WindowHost(client, this))
{
    connect(m_tray, &TrayIcon::openRequested, m_windowHost, &WindowHost::show);
    connect(m_tray, &TrayIcon::quitRequested, qApp, &QCoreApplication::quit);
    connect(m_client, &PrintClient::showWindow, m_windowHost, &WindowHost::show);
}

void DesktopShell::start()
{
    if (m_client->firstStartup() || !TrayIcon::available())
        m_windowHost->show();
}

#include "app/DesktopShell.h"

#include "app/TrayIcon.h"
#include "app/WindowHost.h"
#include "app/WindowProcess.h"
#include "core/PrintClient.h"

#include <QCoreApplication>

DesktopShell::DesktopShell(PrintClient* client, WindowPlace place, QObject* parent)
    : QObject(parent)
    , m_client(client)
    , m_tray(new TrayIcon(client, this))
{
    if (place == WindowInOwnProcess) {
        m_windowProcess = new WindowProcess(client, this);
    } else {
        m_windowHost = new WindowHost(client, this);
        connect(m_windowHost, &WindowHost::shownChanged, client, &PrintClient::setWindowShown);
    }
    connect(m_tray, &TrayIcon::openRequested, this, &DesktopShell::showWindow);
    // The menu stays open long enough for the documents to load before "Abrir" is clicked.
    connect(m_tray, &TrayIcon::menuOpening, this, &DesktopShell::prepareWindow);
    connect(m_tray, &TrayIcon::quitRequested, qApp, &QCoreApplication::quit);
    connect(m_client, &PrintClient::showWindow, this, &DesktopShell::showWindow);
}

void DesktopShell::start()
{
    if (m_client->firstStartup() || !TrayIcon::available())
        showWindow();
}

void DesktopShell::showWindow()
{
    if (m_windowProcess)
        m_windowProcess->show();
    else
        m_windowHost->show();
}

void DesktopShell::prepareWindow()
{
    if (m_windowProcess)
        m_windowProcess->prepare();
    else
        m_windowHost->prepare();
}

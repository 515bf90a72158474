#pragma once

#include "app/DesktopShell.h"
#include "app/LanguageChoice.h"
#include "app/Resources.h"
#include "app/TrayIcon.h"
#include "app/WindowHost.h"
#include "core/PrintClient.h"

#include <QMenu>
#include <QtQml>
#include <QtQuick>
#include <QtTest>

// The user interface as the program starts it: a real PrintClient on the test's own settings, the tray, and the
// window's documents when asked for.
class UiRig
{
public:
    // Once per process: the translation of the system language, the resources.
    static void setUpProcess()
    {
        static QTranslator translator;
        const QString dir = qEnvironmentVariable("QLK_BUILD_DIR", QCoreApplication::applicationDirPath());
        QVERIFY(translator.load(LanguageChoice::translationFile(dir, QLocale::system().name())));
        QCoreApplication::installTranslator(&translator);
        Resources::init();
    }

    // port 0: any free one (rigs are never destroyed, and their servers keep listening).
    explicit UiRig(quint16 port = 0)
    {
        m_client->setListenerPort(port);
        m_client->init();
        m_shell = new DesktopShell(m_client);
        m_shell->start();
    }
    ~UiRig()
    {
        delete m_shell;
        m_client->blockSignals(true); // never destroyed, as in the program: its timers must disturb no later rig
    }

    PrintClient* client() const { return m_client; }
    WindowHost* host() const { return m_shell->windowHost(); }
    TrayIcon* tray() const { return m_shell->tray(); }
    QQmlApplicationEngine* engine() const { return host()->engine(); } // null while the documents are not loaded
    QQuickWindow* window() const { return host()->window(); }
    bool windowVisible() const { return window() && window()->isVisible(); }

    // Any object by objectName: items first (delegates, overlay), then non-visual ones, then the tray and its menu.
    QObject* object(const QString& name, QQuickItem* under = nullptr) const
    {
        if (under) {
            QQuickItem* found = find(under, name);
            return found ? found : under->findChild<QObject*>(name);
        }
        if (QQuickItem* found = window() ? find(window()->contentItem(), name) : nullptr)
            return found;
        if (QObject* found = window() ? window()->findChild<QObject*>(name) : nullptr)
            return found;
        return tray()->objectName() == name ? tray() : tray()->contextMenu()->findChild<QObject*>(name);
    }
    static QQuickItem* find(QQuickItem* root, const QString& name)
    {
        for (QQuickItem* child : root->childItems())
            if (QQuickItem* found = child->objectName() == name ? child : find(child, name))
                return found;
        return nullptr;
    }
    QQuickItem* item(const QString& name, QQuickItem* under = nullptr) const
    {
        return qobject_cast<QQuickItem*>(object(name, under));
    }
    bool shown(const QString& name, QQuickItem* under = nullptr) const
    {
        return item(name, under) && item(name, under)->isVisible();
    }

    QString state() const { return object("myStateGroup")->property("state").toString(); }
    // Assigned in the documents' own context, as a click does, so the start-up binding of the state goes.
    void setState(const QString& state)
    {
        QQmlExpression(engine()->contextForObject(window()), window(), "myStateGroup.state = \"" + state + '"')
            .evaluate();
    }
    // As "Abrir" in the tray does: loaded first if need be.
    bool showWindow()
    {
        host()->show();
        return window() && QTest::qWaitForWindowExposed(window());
    }
    // A left click in the middle of a visible item.
    bool click(QQuickItem* item)
    {
        if (!item || !item->isVisible())
            return false;
        QTest::mouseClick(window(), Qt::LeftButton, {},
                          item->mapToScene({item->width() / 2, item->height() / 2}).toPoint());
        return true;
    }

private:
    PrintClient* m_client = new PrintClient();
    DesktopShell* m_shell = nullptr;
};

#pragma once

#include "app/LanguageChoice.h"
#include "app/Resources.h"
#include "app/WindowGeometry.h"
#include "core/PrintClient.h"
#include "printing/Printer.h"
#include "terminals/Tpa.h"

#include <QtQml>
#include <QtQuick>
#include <QtTest>

// Starts the user interface the way the program does: a real PrintClient on the
// test's isolated settings, the published values and qrc:/main.qml.
class UiRig
{
public:
    // Once per process: the translation of the system language, the types, the resources.
    static void setUpProcess()
    {
        static QTranslator translator;
        const QString dir = qEnvironmentVariable("QLK_BUILD_DIR", QCoreApplication::applicationDirPath());
        QVERIFY(translator.load(LanguageChoice::translationFile(dir, QLocale::system().name())));
        QCoreApplication::installTranslator(&translator);
        qmlRegisterType<PrintClient>("PrintClient", 1, 0, "PrintClient");
        qmlRegisterUncreatableType<Printer>("Printer", 1, 0, "Printer", QStringLiteral("made by discovery"));
        qmlRegisterUncreatableType<Tpa>("Tpa", 1, 0, "Tpa", QStringLiteral("made by discovery"));
        Resources::init();
    }
    static QString language() { return LanguageChoice::languageOf(QLocale::system().name()); }

    // port 0: any free one (rigs are never destroyed, and their servers keep listening).
    explicit UiRig(bool debugMode = false, quint16 port = 0)
    {
        if (debugMode)
            m_client->setProperty("isDebugMode", true);
        m_client->setListenerPort(port);
        m_client->init();
        const QString version = m_client->property("version").toString();
        const QSize size = WindowGeometry::forPrimaryScreen();
        QQmlContext* context = m_engine->rootContext();
        context->setContextProperty("printClient", m_client);
        context->setContextProperty("RELEASENAME", version);
        context->setContextProperty("NEWRELEASE", version);
        context->setContextProperty("RELEASEDATE", QDate::currentDate().toString("dd MMM yyyy 17:35:43"));
        context->setContextProperty("OSDATA", QSysInfo::prettyProductName() + QSysInfo::kernelVersion());
        context->setContextProperty("DISPLAY_WIDTH", size.width());
        context->setContextProperty("DISPLAY_HEIGHT", size.height());
        m_engine->load(QUrl(QStringLiteral("qrc:/main.qml")));
        m_window = qobject_cast<QQuickWindow*>(m_engine->rootObjects().value(0));
    }
    ~UiRig()
    {
        delete m_engine;
        // The program never destroys its PrintClient either; blocked, its timers disturb no later rig.
        m_client->blockSignals(true);
    }

    PrintClient* client() const { return m_client; }
    QQmlApplicationEngine* engine() const { return m_engine; }
    QQuickWindow* window() const { return m_window; }

    // Any object by objectName: items first (delegates, overlay), then non-visual ones (tray, menu).
    QObject* object(const QString& name, QQuickItem* under = nullptr) const
    {
        if (QQuickItem* found = find(under ? under : m_window->contentItem(), name))
            return found;
        return under ? under->findChild<QObject*>(name) : m_window->findChild<QObject*>(name);
    }
    static QQuickItem* find(QQuickItem* root, const QString& name)
    {
        for (QQuickItem* child : root->childItems()) {
            if (QQuickItem* found = child->objectName() == name ? child : find(child, name))
                return found;
        }
        return nullptr;
    }
    QQuickItem* item(const QString& name, QQuickItem* under = nullptr) const
    {
        return qobject_cast<QQuickItem*>(object(name, under));
    }
    bool shown(const QString& name, QQuickItem* under = nullptr) const
    {
        QQuickItem* found = item(name, under);
        return found && found->isVisible();
    }

    QString state() const { return object("myStateGroup")->property("state").toString(); }
    // Assigned in the documents' own context, as a click does, so the start-up
    // binding of the state goes; a write from C++ would leave it in place.
    void setState(const QString& state)
    {
        QQmlExpression(m_engine->contextForObject(m_window), m_window,
                       QStringLiteral("myStateGroup.state = \"%1\"").arg(state))
            .evaluate();
    }
    bool showWindow()
    {
        m_window->show();
        return QTest::qWaitForWindowExposed(m_window);
    }
    // A left click in the middle of a visible item.
    bool click(QQuickItem* item)
    {
        if (!item || !item->isVisible())
            return false;
        const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
        return true;
    }
    bool click(const QString& name) { return click(item(name)); }
    // Saves the window under build/screenshots/<language>/<name>.png.
    bool screenshot(const QString& name)
    {
        if (!showWindow())
            return false;
        QTest::qWait(500); // animations (overlay, switches) settle
        const QString dir = qEnvironmentVariable("QLK_BUILD_DIR", QDir::currentPath()) + "/screenshots/" + language();
        return QDir().mkpath(dir) && m_window->grabWindow().save(dir + '/' + name + ".png");
    }

private:
    PrintClient* m_client = new PrintClient();
    QQmlApplicationEngine* m_engine = new QQmlApplicationEngine();
    QPointer<QQuickWindow> m_window;
};

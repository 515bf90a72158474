#include "app/WindowHost.h"

#include "app/WindowGeometry.h"
#include "core/PrintClient.h"
#include "printing/Printer.h"
#include "terminals/Tpa.h"

#include <QDate>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSysInfo>
#include <QtQml>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

void prepareProcess()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    qmlRegisterType<PrintClient>("PrintClient", 1, 0, "PrintClient");
    // Printers and terminals come only from discovery; the documents never create them.
    qmlRegisterUncreatableType<Printer>("Printer", 1, 0, "Printer", QStringLiteral("Printers come from discovery"));
    qmlRegisterUncreatableType<Tpa>("Tpa", 1, 0, "Tpa", QStringLiteral("Terminals come from discovery"));
    // The window is a few panels and texts: the software scene graph draws it
    // without the OpenGL stack, which on a till without a graphics card is a
    // software rasteriser of about 80 MiB that stays mapped once loaded.
    // QT_QUICK_BACKEND still chooses another.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
}

QQuickItem* findItem(QQuickItem* root, const QString& name)
{
    for (QQuickItem* child : root->childItems()) {
        if (QQuickItem* found = child->objectName() == name ? child : findItem(child, name))
            return found;
    }
    return nullptr;
}

} // namespace

WindowHost::WindowHost(QObject* client, QObject* parent)
    : QObject(parent)
    , m_client(client)
    , m_releaseDate(QDate::currentDate().toString(QStringLiteral("dd MMM yyyy")) + QStringLiteral(" 17:35:43"))
{
    bool set = false;
    const int delay = qEnvironmentVariableIntValue("QUORVA_LINK_WINDOW_RELEASE_MS", &set);
    m_releaseTimer.setInterval(set && delay >= 0 ? delay : defaultReleaseDelayMs);
    m_releaseTimer.setSingleShot(true);
    connect(&m_releaseTimer, &QTimer::timeout, this, &WindowHost::release);
}

WindowHost::~WindowHost()
{
    // The window, destroyed with the engine, must not reach back into this half-destroyed host.
    if (m_window)
        m_window->disconnect(this);
}

void WindowHost::show()
{
    if (!m_window && !load())
        return;
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
}

void WindowHost::prepare()
{
    if (!m_window && !load())
        return;
    // Hidden, the documents stay the usual delay from now.
    if (!m_window->isVisible())
        m_releaseTimer.start();
}

bool WindowHost::load()
{
    prepareProcess();
    m_engine = std::make_unique<QQmlApplicationEngine>();
    const QString version = m_client->property("version").toString();
    const QSize size = WindowGeometry::forPrimaryScreen();
    QQmlContext* context = m_engine->rootContext();
    context->setContextProperty(QStringLiteral("printClient"), m_client);
    context->setContextProperty(QStringLiteral("RELEASENAME"), version);
    context->setContextProperty(QStringLiteral("NEWRELEASE"), version);
    context->setContextProperty(QStringLiteral("RELEASEDATE"), m_releaseDate);
    context->setContextProperty(QStringLiteral("OSDATA"), QSysInfo::prettyProductName() + QSysInfo::kernelVersion());
    context->setContextProperty(QStringLiteral("DISPLAY_WIDTH"), size.width());
    context->setContextProperty(QStringLiteral("DISPLAY_HEIGHT"), size.height());
    m_engine->load(QUrl(QStringLiteral("qrc:/main.qml")));
    m_window = qobject_cast<QQuickWindow*>(m_engine->rootObjects().value(0));
    if (!m_window) {
        qCritical("WindowHost: the window's documents do not load");
        m_engine.reset();
        return false;
    }
    // Hidden for a while, the documents go; shown again in time, they stay.
    m_shownSinceLoad = false;
    connect(m_window, &QWindow::visibleChanged, this, [this](bool visible) {
        emit shownChanged(visible);
        m_shownSinceLoad = m_shownSinceLoad || visible;
        if (visible)
            m_releaseTimer.stop();
        else
            m_releaseTimer.start();
    });
    restore();
    emit loaded();
    return true;
}

void WindowHost::restore()
{
    if (!m_wasLoaded)
        return;
    m_window->setPosition(m_position);
    // Until the user picks a page, the start-up progress keeps choosing it.
    if (m_pagePicked)
        QMetaObject::invokeMethod(m_window, "restorePage", Q_ARG(QVariant, m_page));
    if (m_aboutOpen)
        QMetaObject::invokeMethod(m_window, "openAbout");
}

QVariantMap WindowHost::place() const
{
    if (!m_wasLoaded)
        return {};
    return {{QStringLiteral("page"), m_page},
            {QStringLiteral("pagePicked"), m_pagePicked},
            {QStringLiteral("aboutOpen"), m_aboutOpen},
            {QStringLiteral("position"), m_position}};
}

void WindowHost::setPlace(const QVariantMap& place)
{
    m_wasLoaded = !place.isEmpty();
    m_page = place.value(QStringLiteral("page")).toString();
    m_pagePicked = place.value(QStringLiteral("pagePicked")).toBool();
    m_aboutOpen = place.value(QStringLiteral("aboutOpen")).toBool();
    m_position = place.value(QStringLiteral("position")).toPoint();
}

void WindowHost::release()
{
    m_releaseTimer.stop();
    if (!m_window || m_window->isVisible())
        return;
    if (m_shownSinceLoad) {
        m_wasLoaded = true;
        m_page = m_window->findChild<QObject*>(QStringLiteral("myStateGroup"))->property("state").toString();
        m_pagePicked = m_window->property("pagePicked").toBool();
        m_aboutOpen = findItem(m_window->contentItem(), QStringLiteral("overlayAbout")) != nullptr;
        m_position = m_window->position();
    }
    m_window->disconnect(this);
    m_engine.reset();
    // Objects the documents handed to deferred deletion go now, and the heap
    // they used goes back to the system instead of waiting in the allocator.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
#ifdef __GLIBC__
    malloc_trim(0);
#endif
    emit released();
}

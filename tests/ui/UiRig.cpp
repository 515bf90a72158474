#include "UiRig.h"

#include "app/LanguageChoice.h"
#include "app/Resources.h"
#include "app/WindowGeometry.h"
#include "core/PrintClient.h"
#include "printing/Printer.h"
#include "terminals/Tpa.h"

#include <QDate>
#include <QDir>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSysInfo>
#include <QTranslator>
#include <QtQml>
#include <QtTest>

void UiRig::setUpProcess()
{
    static QTranslator translator;
    const QString dir = qEnvironmentVariable("QLK_BUILD_DIR", QCoreApplication::applicationDirPath());
    if (!translator.load(LanguageChoice::translationFile(dir, QLocale::system().name())))
        qWarning("UiRig: no translation for %s in %s", qPrintable(QLocale::system().name()), qPrintable(dir));
    QCoreApplication::installTranslator(&translator);
    qmlRegisterType<PrintClient>("PrintClient", 1, 0, "PrintClient");
    qmlRegisterUncreatableType<Printer>("Printer", 1, 0, "Printer", QStringLiteral("made by discovery"));
    qmlRegisterUncreatableType<Tpa>("Tpa", 1, 0, "Tpa", QStringLiteral("made by discovery"));
    Resources::init();
}

QString UiRig::language()
{
    return LanguageChoice::languageOf(QLocale::system().name());
}

UiRig::UiRig(bool debugMode, const std::function<void(PrintClient*)>& beforeLoad)
    : m_client(new PrintClient())
    , m_engine(new QQmlApplicationEngine())
{
    if (debugMode)
        m_client->setProperty("isDebugMode", true);
    m_client->init();
    if (beforeLoad)
        beforeLoad(m_client);

    const QString version = m_client->property("version").toString();
    const QSize size = WindowGeometry::forPrimaryScreen();
    QQmlContext* context = m_engine->rootContext();
    context->setContextProperty(QStringLiteral("printClient"), m_client);
    context->setContextProperty(QStringLiteral("RELEASENAME"), version);
    context->setContextProperty(QStringLiteral("NEWRELEASE"), version);
    context->setContextProperty(QStringLiteral("RELEASEDATE"),
                                QDate::currentDate().toString(QStringLiteral("dd MMM yyyy 17:35:43")));
    context->setContextProperty(QStringLiteral("OSDATA"), QSysInfo::prettyProductName() + QSysInfo::kernelVersion());
    context->setContextProperty(QStringLiteral("DISPLAY_WIDTH"), size.width());
    context->setContextProperty(QStringLiteral("DISPLAY_HEIGHT"), size.height());
    m_engine->load(QUrl(QStringLiteral("qrc:/main.qml")));
    if (!m_engine->rootObjects().isEmpty())
        m_window = qobject_cast<QQuickWindow*>(m_engine->rootObjects().constFirst());
}

UiRig::~UiRig()
{
    delete m_engine;
    // Its timers keep running; blocked, it neither rescans nor disturbs the next rig.
    m_client->blockSignals(true);
}

QObject* UiRig::object(const QString& name, QQuickItem* under) const
{
    if (!m_window)
        return nullptr;
    // Breadth first, so a name under `under` finds the nearest item of that name;
    // then the non-visual objects (tray icon, menu entries).
    QList<QQuickItem*> level{under ? under : m_window->contentItem()};
    while (!level.isEmpty()) {
        QList<QQuickItem*> next;
        for (QQuickItem* item : qAsConst(level)) {
            for (QQuickItem* child : item->childItems()) {
                if (child->objectName() == name)
                    return child;
                next << child;
            }
        }
        level = next;
    }
    return under ? under->findChild<QObject*>(name) : m_window->findChild<QObject*>(name);
}

QQuickItem* UiRig::item(const QString& name, QQuickItem* under) const
{
    return qobject_cast<QQuickItem*>(object(name, under));
}

bool UiRig::shown(const QString& name, QQuickItem* under) const
{
    QQuickItem* found = item(name, under);
    return found && found->isVisible();
}

QString UiRig::state() const
{
    QObject* group = object(QStringLiteral("myStateGroup"));
    return group ? group->property("state").toString() : QString();
}

void UiRig::setState(const QString& state)
{
    // Assigned in the documents' own context, as a click does, so the start-up
    // binding of the state goes; a write from C++ would leave it in place.
    QQmlExpression assignment(m_engine->contextForObject(m_window), m_window,
                              QStringLiteral("myStateGroup.state = \"%1\"").arg(state));
    assignment.evaluate();
    if (assignment.hasError())
        qWarning() << "UiRig:" << assignment.error().toString();
}

bool UiRig::showWindow()
{
    if (!m_window)
        return false;
    m_window->show();
    return QTest::qWaitForWindowExposed(m_window);
}

bool UiRig::click(QQuickItem* item)
{
    if (!item || !item->isVisible() || !m_window)
        return false;
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    return true;
}

bool UiRig::screenshot(const QString& name)
{
    if (!showWindow())
        return false;
    QTest::qWait(500); // animations (overlay, switches) settle
    const QString dir = qEnvironmentVariable("QLK_BUILD_DIR", QDir::currentPath()) + "/screenshots/" + language();
    QDir().mkpath(dir);
    const QImage image = m_window->grabWindow();
    return !image.isNull() && image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

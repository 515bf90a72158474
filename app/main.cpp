#include "app/CommandLine.h"
#include "app/DeviceCommand.h"
#include "app/HeadlessReport.h"
#include "app/LanguageChoice.h"
#include "app/LogCapture.h"
#include "app/PreviewCommand.h"
#include "app/PrivateFiles.h"
#include "app/Resources.h"
#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"
#include "app/TrustCommand.h"
#include "app/WindowGeometry.h"
#include "core/PrintClient.h"
#include "printing/Printer.h"
#include "terminals/Tpa.h"

#include <QApplication>
#include <QDate>
#include <QIcon>
#include <QLocale>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QSettings>
#include <QSysInfo>
#include <QTranslator>
#include <QtQml>

#include <cstdio>
#include <exception>

int main(int argc, char* argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setOrganizationName(QStringLiteral("Quorva"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("quorva.pt"));
    QCoreApplication::setApplicationName(QStringLiteral("QuorvaLink"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QLK_VERSION));
    // Ties the window to the menu entry and its icon (Wayland compositors need it).
    QGuiApplication::setDesktopFileName(QStringLiteral(QLK_APP_ID));

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine commandLine = CommandLine::parse(arguments);
    if (commandLine.help || commandLine.version) {
        // Answered without a display, a tray or a second look at the settings.
        QCoreApplication app(argc, argv);
        const QString text = commandLine.help ? CommandLine::helpText()
                                              : QStringLiteral("quorva-link %1\n").arg(QStringLiteral(QLK_VERSION));
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (!commandLine.error.isEmpty()) {
        std::fprintf(stderr, "quorva-link: %s\n", qPrintable(commandLine.error));
        return 2;
    }
    if (commandLine.preview)
        return PreviewCommand::main(argc, argv, commandLine.previewJob, commandLine.previewOutput);
    if (commandLine.trustCertificate || commandLine.untrustCertificate) {
        QCoreApplication app(argc, argv);
        PrivateFiles::protectSettings();
        return TrustCommand::run(commandLine.trustCertificate);
    }
    if (commandLine.devices || !commandLine.enableDevice.isEmpty() || !commandLine.disableDevice.isEmpty()) {
        QCoreApplication app(argc, argv);
        PrivateFiles::protectSettings();
        if (commandLine.devices)
            return DeviceCommand::list();
        return commandLine.enableDevice.isEmpty() ? DeviceCommand::set(commandLine.disableDevice, false)
                                                  : DeviceCommand::set(commandLine.enableDevice, true);
    }

    // Qt's own event dispatcher instead of glib's: every connection thread runs
    // an event loop, and glib's costs about a tenth of the processor time per
    // request. Nothing here embeds glib (no GTK dialogs); a user's setting wins.
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    // A till without a desktop: nothing is drawn, whatever display the session has.
    if (commandLine.headless)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The settings hold the security key: this user's only, before anything is written.
    PrivateFiles::protectSettings();
    // Headless platforms have no OpenGL: draw the window in software so a box
    // without a display still runs the service.
    if (QGuiApplication::platformName() == QLatin1String("offscreen") &&
        qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
    // Closing the window only hides it; the program lives in the tray.
    app.setQuitOnLastWindowClosed(false);
    const TerminationSignals terminationSignals;
    QQmlApplicationEngine engine;
    QTranslator translator;

    translator.load(LanguageChoice::translationFile(QCoreApplication::applicationDirPath(), QLocale::system().name()));
    app.installTranslator(&translator);

    qmlRegisterType<PrintClient>("PrintClient", 1, 0, "PrintClient");
    // Printers and terminals come only from discovery; the documents never create them.
    qmlRegisterUncreatableType<Printer>("Printer", 1, 0, "Printer", QStringLiteral("Printers come from discovery"));
    qmlRegisterUncreatableType<Tpa>("Tpa", 1, 0, "Tpa", QStringLiteral("Terminals come from discovery"));

    if (SingleInstance::anotherInstanceIsAlive()) {
        if (commandLine.headless)
            std::fputs("Quorva Link already runs for this user.\n", stderr);
        return 0;
    }

    Resources::init();
    app.setWindowIcon(QIcon(QStringLiteral(":/imgs/install.ico")));
    auto* printClient = new PrintClient();

    if (commandLine.debugMode) {
        printClient->setIsDebugMode(true);
        LogCapture::install(printClient);
    }

    printClient->init();

    const QString version = printClient->version();
    const QString osData = QSysInfo::prettyProductName() + QSysInfo::kernelVersion();
    const QString releaseDate =
        QDate::currentDate().toString(QStringLiteral("dd MMM yyyy")) + QStringLiteral(" 17:35:43");
    const QSize windowSize = WindowGeometry::forPrimaryScreen();

    QQmlContext* context = engine.rootContext();
    context->setContextProperty(QStringLiteral("printClient"), printClient);
    context->setContextProperty(QStringLiteral("RELEASENAME"), version);
    context->setContextProperty(QStringLiteral("NEWRELEASE"), version);
    context->setContextProperty(QStringLiteral("RELEASEDATE"), releaseDate);
    context->setContextProperty(QStringLiteral("OSDATA"), osData);
    context->setContextProperty(QStringLiteral("DISPLAY_WIDTH"), windowSize.width());
    context->setContextProperty(QStringLiteral("DISPLAY_HEIGHT"), windowSize.height());

    if (commandLine.headless)
        HeadlessReport::print(*printClient);
    else
        engine.load(QUrl(QStringLiteral("qrc:/main.qml")));

    try {
        return app.exec();
    } catch (const std::exception& e) {
        qDebug() << "Error!" << e.what();
        return 0;
    }
}

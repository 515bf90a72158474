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
#include "core/PrintClient.h"

#include <QIcon>
#include <QLocale>
#include <QSettings>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <exception>
#include <memory>

// Built twice: quorva-link, with the tray and the window, and
// quorva-link-headless, which links none of their libraries and is what
// quorva-link runs when it is to serve without a window.
#ifdef QLK_HEADLESS_ONLY
#include <QGuiApplication>
using Application = QGuiApplication;
#else
#include "app/DesktopShell.h"
#include "app/GraphicsChoice.h"
#include "app/HeadlessProgram.h"
#include "app/WindowProgram.h"

#include <QApplication>
#include <QMessageBox>
using Application = QApplication;
#endif

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
    if (commandLine.windowChannel >= 0) {
#ifdef QLK_HEADLESS_ONLY
        std::fputs("quorva-link-headless: no window here\n", stderr);
        return 2;
#else
        return WindowProgram::main(argc, argv, commandLine.windowChannel);
#endif
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
#ifdef QLK_HEADLESS_ONLY
    const bool headless = true;
#else
    // A till without a desktop: nothing is drawn, whatever display the session has.
    // A start without any display does the same rather than abort in Qt's platform.
    const bool noDisplay =
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
        false;
#endif
    // Qt's platforms without a screen: nothing could show a window or a tray either.
    const QByteArray requested = qgetenv("QT_QPA_PLATFORM");
    const bool noScreen = requested.startsWith("offscreen") || requested.startsWith("minimal");
    const bool headless = commandLine.headless || noDisplay || noScreen;
    if (noDisplay && !commandLine.headless)
        std::fputs("quorva-link: no display; serving without a window, as with --headless.\n", stderr);
    if (!headless)
        GraphicsChoice::avoidOpenGl();
#endif
    if (headless) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
#ifndef QLK_HEADLESS_ONLY
        // Returns only where no headless program stands beside this one.
        HeadlessProgram::replaceProcess(argv);
#endif
    }
    Application app(argc, argv);
    // The settings hold the security key: this user's only, before anything is written.
    PrivateFiles::protectSettings();
    // With no screen to show them on, neither the tray nor the window is made.
    const QString platform = QGuiApplication::platformName();
    const bool desktop = !headless && platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
    // Closing the window only hides it; the program lives in the tray.
    app.setQuitOnLastWindowClosed(false);
    const TerminationSignals terminationSignals;
    QTranslator translator;

    translator.load(LanguageChoice::translationFile(QCoreApplication::applicationDirPath(), QLocale::system().name()));
    app.installTranslator(&translator);

    // Only a copy that could show a window asks the running one for its window.
    if (SingleInstance::anotherInstanceIsAlive(desktop)) {
        if (!desktop) {
            std::fputs("Quorva Link already runs for this user.\n", stderr);
        }
#ifndef QLK_HEADLESS_ONLY
        else if (SingleInstance::runningHeadless()) {
            // The running copy has no window to show: say so rather than do nothing.
            const QString text = QCoreApplication::translate(
                "SingleInstance", "O Quorva Link já está a correr para este utilizador como serviço, sem janela. "
                                  "Para usar a janela, pare o serviço: systemctl --user stop quorva-link");
            std::fprintf(stderr, "%s\n", qPrintable(text));
            QMessageBox::information(nullptr, QStringLiteral("Quorva Link"), text);
        }
#endif
        return 0;
    }
    SingleInstance::claim(!desktop);

    Resources::init();
    // Reading the icon loads every image format plugin (Qt SVG and Widgets among them).
    if (desktop)
        app.setWindowIcon(QIcon(QStringLiteral(":/imgs/install.ico")));
    auto* printClient = new PrintClient();

    if (commandLine.debugMode) {
        printClient->setIsDebugMode(true);
        LogCapture::install(printClient);
    }

    // Without a window or a tray nothing could show a new version: the headless
    // service does not ask (and never loads the network bearer plugins of Qt's
    // HTTP client, with their D-Bus connections and polling). Its package
    // manager brings updates.
    printClient->setChecksVersions(!headless);
    printClient->init();

    if (headless)
        HeadlessReport::print(*printClient);
#ifndef QLK_HEADLESS_ONLY
    std::unique_ptr<DesktopShell> shell;
    if (desktop) {
#ifdef Q_OS_UNIX
        shell = std::make_unique<DesktopShell>(printClient, DesktopShell::WindowInOwnProcess);
#else
        // The window's process gets its socket over the exec, a POSIX facility.
        shell = std::make_unique<DesktopShell>(printClient, DesktopShell::WindowInThisProcess);
#endif
        // The window, when it shows at start, loads once the event loop runs:
        // the server answers from the first moment, not after the documents.
        QTimer::singleShot(0, shell.get(), &DesktopShell::start);
    }
#endif

    int exitCode = 0;
    try {
        exitCode = app.exec();
    } catch (const std::exception& e) {
        qDebug() << "Error!" << e.what();
    }
    // A start right after this exit (a service restart, "Sair" then the menu) must run.
    SingleInstance::release();
    return exitCode;
}

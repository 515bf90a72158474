#include "app/WindowProgram.h"

#include "app/ClientMirror.h"
#include "app/LanguageChoice.h"
#include "app/Resources.h"
#include "app/WindowHost.h"
#include "app/WindowLink.h"

#include <QGuiApplication>
#include <QIcon>
#include <QLocale>
#include <QTranslator>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#endif

WindowProgram::WindowProgram(WindowLink* link, QObject* parent)
    : QObject(parent)
    // Connected first, the mirror has the whole state before the first show loads the documents.
    , m_client(new ClientMirror(link, this))
    , m_host(new WindowHost(m_client, this))
{
    connect(link, &WindowLink::received, m_host, [this, link](const QVariantMap& message) {
        // Once released, the process is on its way out: a late show is left to the next one.
        if (m_released)
            return;
        if (message.contains(QStringLiteral("place")))
            m_host->setPlace(message.value(QStringLiteral("place")).toMap());
        if (message.contains(QStringLiteral("prepare"))) {
            m_host->prepare();
            link->send({{QStringLiteral("prepared"), true}});
        }
        if (message.contains(QStringLiteral("show"))) {
            m_host->show();
            link->send({{QStringLiteral("showing"), true}});
        }
    });
    connect(m_host, &WindowHost::shownChanged, link, [link](bool shown) {
        link->send({{QStringLiteral("shown"), shown}});
    });
    connect(m_host, &WindowHost::released, this, [this, link] {
        m_released = true;
        link->send({{QStringLiteral("released"), m_host->place()}});
        emit finished();
    });
    connect(link, &WindowLink::closed, this, &WindowProgram::finished);
}

WindowProgram::~WindowProgram()
{
    // The documents go before the state object they bind to.
    delete m_host;
}

int WindowProgram::main(int argc, char* argv[], int channel)
{
#ifdef Q_OS_UNIX
    // Only a socket handed over by the running program will do; and the programs this one starts (a browser for
    // the help pages, certutil for the trust step) must not inherit it.
    struct stat status;
    if (::fstat(channel, &status) != 0 || !S_ISSOCK(status.st_mode) || ::fcntl(channel, F_SETFD, FD_CLOEXEC) != 0) {
        std::fputs("quorva-link: --window-channel is for the running program's own use\n", stderr);
        return 2;
    }
#endif
    QGuiApplication app(argc, argv);
    // Closing the window hides it; the process goes once the documents are released.
    app.setQuitOnLastWindowClosed(false);
    QTranslator translator;
    translator.load(LanguageChoice::translationFile(QCoreApplication::applicationDirPath(), QLocale::system().name()));
    app.installTranslator(&translator);
    Resources::init();
    app.setWindowIcon(QIcon(QStringLiteral(":/imgs/install.ico")));

    WindowLink link(channel);
    WindowProgram program(&link);
    QObject::connect(&program, &WindowProgram::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    return app.exec();
}

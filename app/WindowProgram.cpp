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

WindowProgram::WindowProgram(WindowLink* link, QObject* parent)
    : QObject(parent)
    // Connected first, the mirror has the whole state before the first show loads the documents.
    , m_client(new ClientMirror(link, this))
    , m_host(new WindowHost(m_client, this))
{
    connect(link, &WindowLink::received, m_host, [this](const QVariantMap& message) {
        if (message.contains(QStringLiteral("place")))
            m_host->setPlace(message.value(QStringLiteral("place")).toMap());
        if (message.contains(QStringLiteral("show")))
            m_host->show();
    });
    connect(m_host, &WindowHost::shownChanged, link, [link](bool shown) {
        link->send({{QStringLiteral("shown"), shown}});
    });
    connect(m_host, &WindowHost::released, this, [this, link] {
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

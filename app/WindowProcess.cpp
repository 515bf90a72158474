#include "app/WindowProcess.h"

#include "app/GraphicsChoice.h"
#include "app/WindowLink.h"
#include "app/WindowStateSource.h"
#include "core/PrintClient.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#ifdef Q_OS_UNIX
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#ifdef Q_OS_UNIX
namespace {

// Hands the window's end of the socket pair over the exec, and nothing else.
class ChannelProcess : public QProcess
{
public:
    ChannelProcess(int descriptor, QObject* parent)
        : QProcess(parent)
        , m_descriptor(descriptor)
    {}

protected:
    void setupChildProcess() override { ::fcntl(m_descriptor, F_SETFD, 0); }

private:
    const int m_descriptor;
};

} // namespace
#endif

WindowProcess::WindowProcess(PrintClient* client, QObject* parent)
    : QObject(parent)
    , m_client(client)
{}

WindowProcess::~WindowProcess()
{
    // The window goes with the program: its process sees the link close and quits.
    delete m_link;
    m_link = nullptr;
    for (QProcess* process : findChildren<QProcess*>()) {
        process->disconnect(this);
        process->waitForFinished(2000);
    }
}

void WindowProcess::show()
{
    if (!m_link && !start())
        return;
    m_showPending = true;
    m_link->send({{QStringLiteral("show"), true}});
}

void WindowProcess::prepare()
{
    if (!m_link && !start())
        return;
    m_preparePending = true;
    m_link->send({{QStringLiteral("prepare"), true}});
}

bool WindowProcess::start()
{
#ifndef Q_OS_UNIX
    return false;
#else
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        qCritical("WindowProcess: no socket pair for the window: %s", strerror(errno));
        return false;
    }
    auto* process = new ChannelProcess(pair[1], this);
    // This program's own image, even after an update replaced or removed its file.
    const bool ownImage = QFileInfo::exists(QStringLiteral("/proc/self/exe"));
    process->setProgram(ownImage ? QStringLiteral("/proc/self/exe") : QCoreApplication::applicationFilePath());
    process->setArguments({QStringLiteral("--window-channel"), QString::number(pair[1])});
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setProcessEnvironment(GraphicsChoice::childEnvironment());
    process->start();
    ::close(pair[1]);
    if (!process->waitForStarted()) {
        qCritical("WindowProcess: the window does not start: %s", qPrintable(process->errorString()));
        ::close(pair[0]);
        delete process;
        return false;
    }
    m_process = process;
    m_link = new WindowLink(pair[0], this);
    new WindowStateSource(m_client, m_link, m_link);
    connect(m_link, &WindowLink::received, this, &WindowProcess::onReceived);
    connect(m_link, &WindowLink::closed, this, &WindowProcess::drop);
    connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this, process](int code, QProcess::ExitStatus status) {
                // The next show starts a new one; the log says why this one went.
                if (status != QProcess::NormalExit || code != 0)
                    qCritical("WindowProcess: the window's process failed (%s, exit code %d)",
                              status == QProcess::CrashExit ? "crashed" : "exited", code);
                if (process == m_process)
                    drop();
                process->deleteLater();
            });
    if (!m_place.isEmpty())
        m_link->send({{QStringLiteral("place"), m_place}});
    return true;
#endif
}

void WindowProcess::onReceived(const QVariantMap& message)
{
    if (message.contains(QStringLiteral("showing")))
        m_showPending = false;
    if (message.contains(QStringLiteral("prepared")))
        m_preparePending = false;
    if (!message.contains(QStringLiteral("released")))
        return;
    // The window's process quits now; a show from here on starts a new one, and
    // so does a show (or a prepare) it got too late to carry out.
    m_place = message.value(QStringLiteral("released")).toMap();
    const bool unshown = m_showPending;
    const bool unprepared = m_preparePending;
    drop();
    if (unshown)
        show();
    else if (unprepared)
        prepare();
}

void WindowProcess::drop()
{
    if (!m_link)
        return;
    m_link->deleteLater();
    m_link = nullptr;
    m_process = nullptr;
    m_showPending = false;
    m_preparePending = false;
    m_client->setWindowShown(false);
}

#include "app/TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#ifndef Q_OS_WIN
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// [0] is written by the handler, [1] watched on the main thread.
int socketPair[2] = {-1, -1};

void writeSignal(int signal)
{
    const char byte = char(signal); // write() is async-signal-safe; nothing else happens here
    [[maybe_unused]] const ssize_t written = ::write(socketPair[0], &byte, 1);
}

} // namespace
#endif

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent)
{
#ifndef Q_OS_WIN
    if (socketPair[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, socketPair) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = &writeSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (sigaction(SIGTERM, &action, nullptr) != 0 || sigaction(SIGINT, &action, nullptr) != 0)
        return;
    m_notifier = new QSocketNotifier(socketPair[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::quitOnSignal);
#endif
}

TerminationSignals::~TerminationSignals()
{
#ifndef Q_OS_WIN
    // Past the event loop a signal ends the process at once again.
    if (m_notifier) {
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGINT, SIG_DFL);
    }
#endif
}

void TerminationSignals::quitOnSignal()
{
#ifndef Q_OS_WIN
    char bytes[16];
    while (::read(socketPair[1], bytes, sizeof bytes) > 0) {
    }
#endif
    QCoreApplication::quit();
}

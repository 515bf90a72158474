#include "XMapClock.h"

#include <X11/Xlib.h>

#include <sys/select.h>

XMapClock::XMapClock()
    : m_display(XOpenDisplay(nullptr))
{
    if (!m_display)
        return;
    // Without a window manager, top-level windows are the root's children.
    XSelectInput(m_display, DefaultRootWindow(m_display), SubstructureNotifyMask);
    XSync(m_display, False);
}

XMapClock::~XMapClock()
{
    if (m_display)
        XCloseDisplay(m_display);
}

void XMapClock::start()
{
    if (m_display)
        XSync(m_display, True);
    m_clock.start();
}

double XMapClock::waitForMap(const QString& title, int timeoutMs)
{
    if (!m_display)
        return -1;
    const QByteArray wanted = title.toUtf8();
    while (m_clock.elapsed() < timeoutMs) {
        while (XPending(m_display)) {
            XEvent event;
            XNextEvent(m_display, &event);
            if (event.type != MapNotify)
                continue;
            const double ms = m_clock.nsecsElapsed() / 1e6;
            char* name = nullptr;
            const bool match = XFetchName(m_display, event.xmap.window, &name) && name && wanted == name;
            if (name)
                XFree(name);
            if (match)
                return ms;
        }
        const int fd = ConnectionNumber(m_display);
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        timeval wait{0, 20000};
        select(fd + 1, &readable, nullptr, nullptr, &wait);
    }
    return -1;
}

#include "XWindowCloser.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstring>
#include <functional>

namespace {

// The first viewable window below root whose WM_NAME is the title, or 0.
Window findShown(Display* display, Window root, const QByteArray& title)
{
    Window parent = 0, rootReturn = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, root, &rootReturn, &parent, &children, &count))
        return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes;
        char* name = nullptr;
        if (XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable &&
            XFetchName(display, children[i], &name) && name && title == name)
            found = children[i];
        if (name)
            XFree(name);
        if (!found)
            found = findShown(display, children[i], title);
    }
    if (children)
        XFree(children);
    return found;
}

bool withWindow(const QString& title, const std::function<void(Display*, Window)>& action)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    const Window window = findShown(display, DefaultRootWindow(display), title.toUtf8());
    if (window)
        action(display, window);
    XCloseDisplay(display);
    return window != 0;
}

} // namespace

bool XWindowCloser::isShown(const QString& title)
{
    return withWindow(title, [](Display*, Window) {});
}

bool XWindowCloser::close(const QString& title)
{
    return withWindow(title, [](Display* display, Window window) {
        XEvent event;
        std::memset(&event, 0, sizeof(event));
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, window, False, NoEventMask, &event);
        XFlush(display);
    });
}

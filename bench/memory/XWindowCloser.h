#pragma once

#include <QString>

// Finds a top-level window of the X server of DISPLAY by its title and asks it
// to close, as a window manager's close button does (WM_DELETE_WINDOW).
class XWindowCloser
{
public:
    // Whether a mapped window with this title exists.
    static bool isShown(const QString& title);
    // Sends the close request; false when no such window is shown.
    static bool close(const QString& title);
};

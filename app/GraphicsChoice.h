#pragma once

#include <QProcessEnvironment>

// Nothing the tray program draws needs OpenGL (its window, in a process of its
// own, has the software scene graph), yet Qt's X11 platform loads the OpenGL
// stack for the tray menu's window and keeps it: on a till without a graphics
// card a software rasteriser of about 50 MiB. The tray program turns Qt's
// OpenGL integration off for itself, unless the user chose one, and hands the
// programs it starts the environment it was given.
class GraphicsChoice
{
public:
    // Before the application object: Qt reads the choice as its platform starts.
    static void avoidOpenGl();
    // The environment for a program this one starts, without the choice made for this one.
    static QProcessEnvironment childEnvironment();

private:
    static bool s_avoided;
};

#include "app/WindowGeometry.h"

#include <QGuiApplication>
#include <QScreen>

QSize WindowGeometry::sizeFor(const QSize& availableDesktop)
{
    const int width = availableDesktop.width() - 100;
    if (width <= 949)
        return QSize(width, width * 700 / 950);

    const int height = availableDesktop.height() - 100;
    if (height > 699)
        return QSize(950, 700);
    return QSize(height * 950 / 700, height);
}

QSize WindowGeometry::forPrimaryScreen()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return sizeFor(screen ? screen->availableGeometry().size() : QSize(1050, 800));
}

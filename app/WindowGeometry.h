#pragma once

#include <QSize>

// The fixed window size: 950 x 700 at most, same ratio, leaving at least 100
// pixels of the available desktop free.
class WindowGeometry
{
public:
    static QSize sizeFor(const QSize& availableDesktop);
    // From the primary screen's available geometry.
    static QSize forPrimaryScreen();
};

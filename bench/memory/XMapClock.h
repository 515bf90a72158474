#pragma once

#include <QElapsedTimer>
#include <QString>

typedef struct _XDisplay Display;

// Times how soon a top-level window of the X server of DISPLAY is mapped: from
// start() to the server's map notice, with no polling in between.
class XMapClock
{
public:
    XMapClock();
    ~XMapClock();
    XMapClock(const XMapClock&) = delete;
    XMapClock& operator=(const XMapClock&) = delete;

    bool isOpen() const { return m_display != nullptr; }
    // Starts the clock; maps seen before do not count.
    void start();
    // Milliseconds from start() to the map of a window with this title; -1 when none comes in time.
    double waitForMap(const QString& title, int timeoutMs);

private:
    Display* m_display = nullptr;
    QElapsedTimer m_clock;
};

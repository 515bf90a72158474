#pragma once

#include <QtGlobal>

// The single-instance scheme: a running instance stamps the settings key
// "kicked" with its local time every few seconds; a start that finds a fresh
// stamp asks that instance to show its window and gives way.
class SingleInstance
{
public:
    // Local time in whole seconds: UTC seconds plus the local UTC offset.
    static qint64 localNowSeconds();

    // A stamp at most this many seconds old (or ahead, for a clock set back) is alive.
    static constexpr qint64 staleAfterSeconds = 5;

    // True when a stamp this old (now - stamp, in seconds) belongs to a live instance.
    static bool isStampAlive(qint64 nowSeconds, qint64 stampSeconds);

    // Reads the stamp; when another instance is alive, asks it for its window
    // ("showWindow", synced) unless told not to, and returns true: the caller
    // then exits with code 0.
    static bool anotherInstanceIsAlive(bool askForWindow = true);

    // This start is the instance: a window request nobody took is dropped.
    static void claim(bool headless);
    // A clean exit takes its stamp back, so that a start right after it runs.
    static void release();

    // Writes the stamp of this instance, synced.
    static void stamp();

    // Whether the running instance serves without a window (see claim), so that
    // a second start can tell the user instead of asking for a window that never comes.
    static bool runningHeadless();
};

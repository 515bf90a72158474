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

    // Reads the stamp; when another instance is alive, sets "showWindow" (synced)
    // and returns true: the caller then exits with code 0.
    static bool anotherInstanceIsAlive();

    // Writes the stamp of this instance, synced.
    static void stamp();

    // Records whether this instance serves without a window, so that a second
    // start can tell the user instead of asking for a window that never comes.
    static void markHeadless(bool headless);
    static bool runningHeadless();
};

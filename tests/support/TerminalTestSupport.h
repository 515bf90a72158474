#pragma once

#include "TerminalSimulator.h"
#include "terminals/TpaTimings.h"

#include <QtTest>

struct TerminalTest
{
    // Shrunk; the idle poll stays long, so a poll seen in a test comes from the interval it is about.
    static TpaTimings timings()
    {
        return {500, 60000, 200, 400, 1200}; // firstLoop, idlePoll, afterTransaction, pollWrite, transaction
    }
    static bool waitForMessage(const TerminalSimulator& sim, const QByteArray& message, int n = 1, int ms = 10000)
    {
        return QTest::qWaitFor([&]() { return sim.messages().count(message) >= n; }, ms);
    }
};

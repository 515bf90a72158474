#pragma once

#include "TerminalSimulator.h"
#include "terminals/TpaTimings.h"

#include <QtTest>

// Terminal tests drive the real protocol workers over pseudo-terminals played by TerminalSimulator.
struct TerminalTest
{
    // Shrunk; the idle poll stays long, so a poll seen in a test comes from the interval it is about.
    static TpaTimings timings()
    {
        return {500, 60000, 200, 400, 1200}; // firstLoop, idlePoll, afterTransaction, pollWrite, transaction
    }
    // Until the simulator has received message n times in all.
    static bool waitForMessage(const TerminalSimulator& sim, const QByteArray& message, int n = 1, int ms = 10000)
    {
        return QTest::qWaitFor([&]() { return sim.messages().count(message) >= n; }, ms);
    }
};

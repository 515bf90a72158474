#pragma once

// Intervals of a terminal worker, in milliseconds. The program uses the
// defaults; tests shrink them so that a 60 s timeout takes a moment.
struct TpaTimings
{
    int firstLoop = 5000;        // loop interval set at start (the first poll runs at once)
    int idlePoll = 30000;        // between status polls; also between attempts to open a missing port
    int afterTransaction = 2000; // from the end of a transaction to the next poll
    int pollWrite = 5000;        // time for a status request to leave the port
    int transaction = 60000;     // silence tolerated from the terminal during a transaction

    // The defaults divided by factor (for tests).
    static TpaTimings scaled(int factor)
    {
        TpaTimings t;
        t.firstLoop /= factor;
        t.idlePoll /= factor;
        t.afterTransaction /= factor;
        t.pollWrite /= factor;
        t.transaction /= factor;
        return t;
    }
};

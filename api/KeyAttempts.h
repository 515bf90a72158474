#pragma once

#include <QHash>
#include <QHostAddress>
#include <QVector>

#include <functional>
#include <mutex>

// Slows down guessing of the security key: more than maxFailures wrong keys
// from one client within windowMs shut that client out of every keyed path for
// the next windowMs, without the key being looked at. A client is an IPv4
// address, an IPv6 /64, or this computer (every loopback address). Safe on any
// thread.
class KeyAttempts
{
public:
    static constexpr int maxFailures = 20;
    static constexpr qint64 windowMs = 10000;

    // The clock gives milliseconds of a monotonic time; tests pass their own.
    explicit KeyAttempts(std::function<qint64()> clock = {});

    // Milliseconds this address is still shut out (0: it may try).
    qint64 blockedFor(const QHostAddress& address);
    void recordFailure(const QHostAddress& address);
    // Forgets every client (tests that send many wrong keys on purpose).
    void clear();

private:
    struct Entry
    {
        QVector<qint64> failures; // times of the recent wrong keys, oldest first
        qint64 blockedUntil = 0;
    };
    void forgetIdle(qint64 now);

    std::function<qint64()> m_clock;
    std::mutex m_mutex;
    QHash<QString, Entry> m_entries;
};

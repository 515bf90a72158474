#include "api/KeyAttempts.h"

#include <QElapsedTimer>

namespace {

// The client an address belongs to. Every loopback address is this computer:
// a local process may bind any of 127.0.0.0/8 and rotate through them. An IPv6
// host picks the lower 64 bits of its address at will, so its /64 is the
// client. IPv4 clients may arrive as IPv4-mapped IPv6 addresses on a
// dual-stack socket.
QString keyOf(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4 ? (v4 >> 24) == 127 : address.isLoopback())
        return QStringLiteral("this computer (loopback)");
    if (isV4)
        return QHostAddress(v4).toString();
    Q_IPV6ADDR prefix = address.toIPv6Address();
    for (int i = 8; i < 16; ++i)
        prefix[i] = 0;
    return QHostAddress(prefix).toString() + QStringLiteral("/64");
}

} // namespace

KeyAttempts::KeyAttempts(std::function<qint64()> clock)
    : m_clock(std::move(clock))
{
    if (!m_clock) {
        m_clock = [] {
            static QElapsedTimer timer = [] {
                QElapsedTimer t;
                t.start();
                return t;
            }();
            return timer.elapsed();
        };
    }
}

qint64 KeyAttempts::blockedFor(const QHostAddress& address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_entries.constFind(keyOf(address));
    return it == m_entries.cend() ? 0 : qMax<qint64>(0, it->blockedUntil - m_clock());
}

void KeyAttempts::recordFailure(const QHostAddress& address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const qint64 now = m_clock();
    // Many addresses (a LAN scan) must not make the table grow without end.
    if (m_entries.size() > 1024)
        forgetIdle(now);
    const QString key = keyOf(address);
    Entry& entry = m_entries[key];
    if (entry.blockedUntil > now)
        return;
    while (!entry.failures.isEmpty() && entry.failures.first() <= now - windowMs)
        entry.failures.removeFirst();
    entry.failures.append(now);
    if (entry.failures.size() <= maxFailures)
        return;
    entry.failures.clear();
    entry.blockedUntil = now + windowMs;
    qCritical("PrintClientRequestHandler: more than %d wrong keys from %s within %lld s; refused for %lld s",
              maxFailures, qPrintable(key), windowMs / 1000, windowMs / 1000);
}

void KeyAttempts::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
}

void KeyAttempts::forgetIdle(qint64 now)
{
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (it->blockedUntil <= now && (it->failures.isEmpty() || it->failures.last() <= now - windowMs))
            it = m_entries.erase(it);
        else
            ++it;
    }
}

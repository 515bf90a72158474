#include "api/KeyAttempts.h"

#include "http/ClientAddress.h"

#include <QElapsedTimer>

namespace {

// The client an address belongs to, as a key of the table.
QString keyOf(const QHostAddress& address)
{
    const QHostAddress client = ClientAddress::of(address);
    if (client.isLoopback())
        return QStringLiteral("this computer (loopback)");
    return client.protocol() == QAbstractSocket::IPv4Protocol ? client.toString()
                                                              : client.toString() + QStringLiteral("/64");
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

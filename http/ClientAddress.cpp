#include "http/ClientAddress.h"

QHostAddress ClientAddress::of(const QHostAddress& peer)
{
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);
    if (isV4 ? (v4 >> 24) == 127 : peer.isLoopback())
        return QHostAddress(QHostAddress::LocalHost);
    if (isV4)
        return QHostAddress(v4);
    Q_IPV6ADDR prefix = peer.toIPv6Address();
    for (int i = 8; i < 16; ++i)
        prefix[i] = 0;
    return QHostAddress(prefix);
}

#pragma once

#include <QHostAddress>

// The client a peer address counts as, wherever a share or a limit is kept per
// client: this computer's loopback addresses as one, IPv4 (plain or mapped into
// IPv6) by its address, and IPv6 by its /64, which one host fills at will.
namespace ClientAddress {

QHostAddress of(const QHostAddress& peer);

} // namespace ClientAddress

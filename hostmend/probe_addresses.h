// Where a unit's listening sockets are reached from the host itself, and how they are written.
#pragma once

#include <string>
#include <vector>

#include "listening_sockets.h"

// `unix:/run/php/php8.2-fpm.sock`, `unix:@NAME` for an abstract name, `127.0.0.1:80`,
// `[::1]:80`.
std::string formatAddress(const ListeningSocket& socket);

// Whether the host has the IPv6 loopback address ::1 (from /proc/net/if_inet6).
bool hostHasIpv6Loopback();

// The addresses to probe for `sockets`, one per distinct address, sorted by their text. A
// wildcard address is reached through the loopback address of its family: IPv4's for an
// IPv6 wildcard that also takes IPv4 or when the host has no ::1. With `loopbackOnly` (a
// database, which counts failed greetings per client address), addresses that are neither
// a Unix socket nor a loopback address are left out.
std::vector<ListeningSocket> probeTargets(const std::vector<ListeningSocket>& sockets,
                                          bool ipv6Loopback, bool loopbackOnly);

#include "probe_addresses.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <fstream>

namespace {

constexpr std::array<std::uint8_t, 16> kIpv6Loopback = {0, 0, 0, 0, 0, 0, 0, 0,
                                                        0, 0, 0, 0, 0, 0, 0, 1};
constexpr std::array<std::uint8_t, 4> kIpv4Loopback = {127, 0, 0, 1};

bool isWildcard(const ListeningSocket& socket) {
  const std::size_t size = socket.family == AF_INET ? 4 : 16;
  return std::all_of(socket.address.begin(), socket.address.begin() + size,
                     [](std::uint8_t byte) { return byte == 0; });
}

bool isLoopback(const ListeningSocket& socket) {
  if (socket.family == AF_UNIX) return true;
  if (socket.family == AF_INET) return socket.address[0] == 127;
  // ::1, or 127.0.0.0/8 mapped into IPv6 (::ffff:127.x.y.z).
  static constexpr std::array<std::uint8_t, 12> kMapped = {0, 0, 0, 0, 0,    0,
                                                           0, 0, 0, 0, 0xff, 0xff};
  return socket.address == kIpv6Loopback ||
         (std::equal(kMapped.begin(), kMapped.end(), socket.address.begin()) &&
          socket.address[12] == 127);
}

ListeningSocket reachableFromHere(const ListeningSocket& socket, bool ipv6Loopback) {
  if (socket.family == AF_UNIX || !isWildcard(socket)) return socket;
  ListeningSocket target{.port = socket.port};
  if (socket.family == AF_INET6 && socket.v6only && ipv6Loopback) {
    target.family = AF_INET6;
    target.address = kIpv6Loopback;
  } else {
    // An IPv4 wildcard, an IPv6 one that takes IPv4 too, or one on a host without ::1: the
    // IPv4 loopback is on every host.
    target.family = AF_INET;
    std::copy(kIpv4Loopback.begin(), kIpv4Loopback.end(), target.address.begin());
  }
  return target;
}

}  // namespace

std::string formatAddress(const ListeningSocket& socket) {
  // Built by appending: g++ 12 at -O3 sees a false overlap in "literal" + std::string.
  std::string text;
  if (socket.family == AF_UNIX) {
    const bool abstract = !socket.path.empty() && socket.path[0] == '\0';
    text.append("unix:").append(abstract ? "@" : "");
    text.append(socket.path, abstract ? 1 : 0);
    return text;
  }
  std::array<char, INET6_ADDRSTRLEN> address = {};
  ::inet_ntop(socket.family, socket.address.data(), address.data(), address.size());
  if (socket.family == AF_INET6) text.append("[");
  text.append(address.data());
  if (socket.family == AF_INET6) text.append("]");
  text.append(":").append(std::to_string(socket.port));
  return text;
}

bool hostHasIpv6Loopback() {
  // One line per IPv6 address: the address as 32 hexadecimal digits first. No file: no IPv6.
  std::ifstream addresses("/proc/net/if_inet6");
  std::string address;
  std::string rest;
  while (addresses >> address && std::getline(addresses, rest)) {
    if (address == "00000000000000000000000000000001") return true;
  }
  return false;
}

std::vector<ListeningSocket> probeTargets(const std::vector<ListeningSocket>& sockets,
                                          bool ipv6Loopback, bool loopbackOnly) {
  std::vector<ListeningSocket> targets;
  for (const ListeningSocket& socket : sockets) {
    ListeningSocket target = reachableFromHere(socket, ipv6Loopback);
    if (loopbackOnly && !isLoopback(target)) continue;
    // Only where it is reached matters from here on.
    target.v6only = false;
    targets.push_back(std::move(target));
  }
  std::sort(targets.begin(), targets.end(), [](const auto& left, const auto& right) {
    return formatAddress(left) < formatAddress(right);
  });
  targets.erase(std::unique(targets.begin(), targets.end()), targets.end());
  return targets;
}

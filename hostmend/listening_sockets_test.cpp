#include "listening_sockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "probe_addresses.h"

using namespace std::string_literals;

namespace {

// Binds a new socket of `type` to `address` and returns it with the address it got.
int bound(int family, int type, sockaddr* address, socklen_t size) {
  const int fd = ::socket(family, type | SOCK_CLOEXEC, 0);
  const int on = 1;
  if (family == AF_INET6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof(on));
  EXPECT_EQ(::bind(fd, address, size), 0);
  return fd;
}

std::string localAddress(int fd) {
  sockaddr_storage address{};
  socklen_t size = sizeof(address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ListeningSocket socket{.family = address.ss_family};
  if (address.ss_family == AF_INET) {
    const auto& ipv4 = reinterpret_cast<const sockaddr_in&>(address);
    std::memcpy(socket.address.data(), &ipv4.sin_addr, 4);
    socket.port = ntohs(ipv4.sin_port);
  } else {
    const auto& ipv6 = reinterpret_cast<const sockaddr_in6&>(address);
    std::memcpy(socket.address.data(), &ipv6.sin6_addr, 16);
    socket.port = ntohs(ipv6.sin6_port);
  }
  return formatAddress(socket);
}

// Our own process holds listeners of every kind beside sockets that do not listen; exactly
// the listeners are found.
TEST(ListeningSockets, FindsExactlyTheListenersOfAProcess) {
  std::vector<int> held;
  std::vector<std::string> expected;

  sockaddr_in ipv4{};
  ipv4.sin_family = AF_INET;
  ipv4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  held.push_back(bound(AF_INET, SOCK_STREAM, reinterpret_cast<sockaddr*>(&ipv4), sizeof(ipv4)));
  ASSERT_EQ(::listen(held.back(), 4), 0);
  expected.push_back(localAddress(held.back()));

  sockaddr_in6 ipv6{};
  ipv6.sin6_family = AF_INET6;
  held.push_back(bound(AF_INET6, SOCK_STREAM, reinterpret_cast<sockaddr*>(&ipv6), sizeof(ipv6)));
  ASSERT_EQ(::listen(held.back(), 4), 0);
  expected.push_back(localAddress(held.back()) + " v6only");

  const std::string path =
      std::filesystem::temp_directory_path() / ("listening-" + std::to_string(::getpid()));
  std::filesystem::remove(path);
  sockaddr_un named{.sun_family = AF_UNIX, .sun_path = {}};
  path.copy(named.sun_path, sizeof(named.sun_path) - 1);
  held.push_back(bound(AF_UNIX, SOCK_STREAM, reinterpret_cast<sockaddr*>(&named), sizeof(named)));
  ASSERT_EQ(::listen(held.back(), 4), 0);
  expected.push_back("unix:" + path);

  const std::string abstract = "\0hostmend-listening-"s + std::to_string(::getpid());
  sockaddr_un hidden{.sun_family = AF_UNIX, .sun_path = {}};
  abstract.copy(hidden.sun_path, abstract.size());
  held.push_back(bound(AF_UNIX, SOCK_STREAM, reinterpret_cast<sockaddr*>(&hidden),
                       static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + abstract.size())));
  ASSERT_EQ(::listen(held.back(), 4), 0);
  expected.push_back("unix:@hostmend-listening-" + std::to_string(::getpid()));

  // Not listening: bound only, a datagram socket, a connected client and its peer.
  held.push_back(bound(AF_INET, SOCK_STREAM, reinterpret_cast<sockaddr*>(&ipv4), sizeof(ipv4)));
  held.push_back(bound(AF_INET, SOCK_DGRAM, reinterpret_cast<sockaddr*>(&ipv4), sizeof(ipv4)));
  held.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in server{};
  socklen_t size = sizeof(server);
  ::getsockname(held[0], reinterpret_cast<sockaddr*>(&server), &size);
  ASSERT_EQ(::connect(held.back(), reinterpret_cast<sockaddr*>(&server), size), 0);
  held.push_back(::accept4(held[0], nullptr, nullptr, SOCK_CLOEXEC));

  const ProcessSockets found = findListeningSockets(::getpid());
  EXPECT_FALSE(found.otherNetworkNamespace);
  std::vector<std::string> listed;
  for (const ListeningSocket& socket : found.sockets) {
    listed.push_back(formatAddress(socket) + (socket.v6only ? " v6only" : ""));
  }
  std::sort(listed.begin(), listed.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);
  for (const int fd : held) ::close(fd);
  std::filesystem::remove(path);
}

}  // namespace

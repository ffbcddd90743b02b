// The sockets on which a process listens, from its descriptors and the kernel's own tables.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// One listening socket: TCP over IPv4 or IPv6, or a Unix stream socket.
struct ListeningSocket {
  // AF_INET, AF_INET6 or AF_UNIX.
  int family = 0;
  // The bound address in network order: 4 bytes for IPv4, 16 for IPv6.
  std::array<std::uint8_t, 16> address = {};
  std::uint16_t port = 0;
  // An IPv6 socket that takes no IPv4 connections (IPV6_V6ONLY).
  bool v6only = false;
  // A Unix socket's name as bound; an abstract name starts with a NUL byte.
  std::string path = {};

  friend bool operator==(const ListeningSocket&, const ListeningSocket&) = default;
};

struct ProcessSockets {
  // The process lives in another network namespace than ours: its sockets are in tables
  // that we do not see, and addresses there mean something else.
  bool otherNetworkNamespace = false;
  std::vector<ListeningSocket> sockets;
};

// The listening sockets that process `pid` holds open, in the kernel's order. Raises
// std::system_error when its descriptors or the kernel's tables cannot be read.
ProcessSockets findListeningSockets(pid_t pid);

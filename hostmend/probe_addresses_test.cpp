#include "probe_addresses.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

ListeningSocket tcp(const std::string& address, std::uint16_t port, bool v6only = false) {
  ListeningSocket socket{.port = port, .v6only = v6only};
  socket.family = address.find(':') == std::string::npos ? AF_INET : AF_INET6;
  EXPECT_EQ(::inet_pton(socket.family, address.c_str(), socket.address.data()), 1) << address;
  return socket;
}

ListeningSocket unixSocket(const std::string& path) { return {.family = AF_UNIX, .path = path}; }

struct AddressRow {
  const char* name;
  std::vector<ListeningSocket> sockets = {};
  bool ipv6Loopback = true;
  bool loopbackOnly = false;
  std::vector<std::string> addresses = {};
};

class ProbeAddresses : public testing::TestWithParam<AddressRow> {};

TEST_P(ProbeAddresses, OnePerDistinctAddress) {
  const AddressRow& row = GetParam();
  std::vector<std::string> addresses = {};
  for (const ListeningSocket& target :
       probeTargets(row.sockets, row.ipv6Loopback, row.loopbackOnly)) {
    addresses.push_back(formatAddress(target));
  }
  EXPECT_EQ(addresses, row.addresses);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProbeAddresses,
    testing::Values(
        AddressRow{.name = "UnixPath",
                   .sockets = {unixSocket("/run/php/php8.2-fpm.sock")},
                   .addresses = {"unix:/run/php/php8.2-fpm.sock"}},
        AddressRow{.name = "UnixAbstract",
                   .sockets = {unixSocket("\0tarnwick"s)},
                   .addresses = {"unix:@tarnwick"}},
        AddressRow{
            .name = "Ipv4Wildcard", .sockets = {tcp("0.0.0.0", 80)}, .addresses = {"127.0.0.1:80"}},
        AddressRow{.name = "Ipv6WildcardDualStack",
                   .sockets = {tcp("::", 80)},
                   .addresses = {"127.0.0.1:80"}},
        AddressRow{.name = "Ipv6WildcardOnly",
                   .sockets = {tcp("::", 80, true)},
                   .addresses = {"[::1]:80"}},
        AddressRow{.name = "Ipv6WildcardOnlyWithoutLoopback",
                   .sockets = {tcp("::", 80, true)},
                   .ipv6Loopback = false,
                   .addresses = {"127.0.0.1:80"}},
        AddressRow{.name = "BothWildcardsOfOnePort",
                   .sockets = {tcp("0.0.0.0", 443), tcp("::", 443, true), tcp("0.0.0.0", 80),
                               tcp("::", 80, true)},
                   .addresses = {"127.0.0.1:443", "127.0.0.1:80", "[::1]:443", "[::1]:80"}},
        AddressRow{.name = "DistinctAddressesOnce",
                   .sockets = {tcp("0.0.0.0", 80), tcp("127.0.0.1", 80), tcp("::", 80),
                               unixSocket("/run/a.sock"), unixSocket("/run/a.sock")},
                   .addresses = {"127.0.0.1:80", "unix:/run/a.sock"}},
        AddressRow{.name = "SpecificAddressesKept",
                   .sockets = {tcp("192.0.2.7", 8443), tcp("2001:db8::7", 8443)},
                   .addresses = {"192.0.2.7:8443", "[2001:db8::7]:8443"}},
        AddressRow{
            .name = "DatabaseOnLoopbackAndUnixOnly",
            .sockets = {tcp("192.0.2.7", 3306), tcp("127.0.0.2", 3306),
                        tcp("::ffff:127.0.0.1", 3307), tcp("::1", 3308), tcp("2001:db8::7", 3306),
                        tcp("0.0.0.0", 3309), unixSocket("/run/mysqld/mysqld.sock")},
            .loopbackOnly = true,
            .addresses = {"127.0.0.1:3309", "127.0.0.2:3306", "[::1]:3308",
                          "[::ffff:127.0.0.1]:3307", "unix:/run/mysqld/mysqld.sock"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

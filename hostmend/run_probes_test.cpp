#include "run_probes.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace std::string_literals;

namespace {

constexpr auto kLimit = 300ms;

// One FastCGI record with request id 0 and no padding.
std::string fastCgiRecord(std::uint8_t type, const std::string& content) {
  return "\x01"s + static_cast<char>(type) + "\x00\x00"s + static_cast<char>(content.size() >> 8U) +
         static_cast<char>(content.size() & 0xffU) + "\x00\x00"s + content;
}

std::string fastCgiPair(const std::string& name, const std::string& value) {
  return static_cast<char>(name.size()) + (static_cast<char>(value.size()) + name) + value;
}

// One MariaDB packet with sequence number 0.
std::string databasePacket(const std::string& payload) {
  return static_cast<char>(payload.size()) + "\x00\x00\x00"s + payload;
}

const std::string kHttpRequest = "OPTIONS * HTTP/1.0\r\n\r\n";
const std::string kFastCgiRequest =
    fastCgiRecord(9, fastCgiPair("FCGI_MAX_CONNS", "") + fastCgiPair("FCGI_MAX_REQS", "") +
                         fastCgiPair("FCGI_MPXS_CONNS", ""));
const std::string kFastCgiResult =
    fastCgiRecord(10, fastCgiPair("FCGI_MAX_CONNS", "5") + fastCgiPair("FCGI_MAX_REQS", "5") +
                          fastCgiPair("FCGI_MPXS_CONNS", "0"));
const std::string kHandshake = databasePacket(
    "\x0a"
    "10.11.6-MariaDB-0+deb12u1\x00\x05\x00\x00\x00"s);
const std::string kTooMany = databasePacket("\xff\x10\x04Too many connections"s);

struct ExchangeRow {
  const char* name;
  ProbeKind kind;
  // What the probe must write, and nothing else.
  std::string request = {};
  // What the server writes after it has read the request, one write each, with a pause
  // between them so that each arrives on its own.
  std::vector<std::string> chunks = {};
  // Whether the server then closes its side; otherwise it waits for the probe to close.
  bool close = false;
  ProbeOutcome outcome = ProbeOutcome::Answered;
  std::string detail = {};
};

std::vector<std::string> oneByteEach(const std::string& text) {
  std::vector<std::string> bytes;
  for (const char byte : text) bytes.emplace_back(1, byte);
  return bytes;
}

// Plays the server on its end of the pair and returns every byte the probe wrote until it
// closed its end.
std::string serve(int fd, const ExchangeRow& row) {
  std::string received(row.request.size(), '\0');
  std::size_t have = 0;
  while (have < received.size()) {
    const ssize_t got = ::read(fd, received.data() + have, received.size() - have);
    if (got <= 0) break;
    have += static_cast<std::size_t>(got);
  }
  received.resize(have);
  for (const std::string& chunk : row.chunks) {
    std::this_thread::sleep_for(20ms);
    // The probe may have decided and closed already; its end is gone then.
    static_cast<void>(::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL));
  }
  if (row.close) ::shutdown(fd, SHUT_WR);
  char byte = 0;
  for (ssize_t got = 0; (got = ::read(fd, &byte, 1)) > 0;) received += byte;
  ::close(fd);
  return received;
}

class ProbeExchange : public testing::TestWithParam<ExchangeRow> {};

TEST_P(ProbeExchange, DecidesFromTheServersBytes) {
  const ExchangeRow& row = GetParam();
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  auto server = std::async(std::launch::async, serve, pair[1], row);
  const auto started = std::chrono::steady_clock::now();
  const ProbeResult result = probeConnected(pair[0], row.kind, kLimit);
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(outcomeName(result.outcome), outcomeName(row.outcome));
  EXPECT_EQ(result.detail, row.detail);
  EXPECT_EQ(server.get(), row.request);
  EXPECT_LT(took, kLimit + 200ms);
  EXPECT_GE(result.seconds, 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProbeExchange,
    testing::Values(ExchangeRow{.name = "HttpAnswerOneByteAtATime",
                                .kind = ProbeKind::Http,
                                .request = kHttpRequest,
                                .chunks = oneByteEach("HTTP/1.1 400 Bad Request\r\n"),
                                .outcome = ProbeOutcome::Answered},
                    ExchangeRow{.name = "HttpAnyStatusIsAnAnswer",
                                .kind = ProbeKind::Http,
                                .request = kHttpRequest,
                                .chunks = {"HTTP/1.1 200 OK\r\nAllow: GET\r\n\r\n"},
                                .close = true,
                                .outcome = ProbeOutcome::Answered},
                    ExchangeRow{.name = "HttpGarbage",
                                .kind = ProbeKind::Http,
                                .request = kHttpRequest,
                                .chunks = {"HTTX"},
                                .outcome = ProbeOutcome::WrongAnswer},
                    ExchangeRow{.name = "HttpShortThenClosed",
                                .kind = ProbeKind::Http,
                                .request = kHttpRequest,
                                .chunks = {"HTT"},
                                .close = true,
                                .outcome = ProbeOutcome::WrongAnswer,
                                .detail = "End of file"},
                    ExchangeRow{.name = "HttpClosedWithNoBytes",
                                .kind = ProbeKind::Http,
                                .request = kHttpRequest,
                                .close = true,
                                .outcome = ProbeOutcome::WrongAnswer,
                                .detail = "End of file"},
                    ExchangeRow{.name = "HttpSilent",
                                .kind = ProbeKind::Http,
                                .request = kHttpRequest,
                                .outcome = ProbeOutcome::NoAnswer},
                    ExchangeRow{.name = "FastCgiResultSplitOverSeveralReads",
                                .kind = ProbeKind::FastCgi,
                                .request = kFastCgiRequest,
                                .chunks = {kFastCgiResult.substr(0, 3), kFastCgiResult.substr(3, 5),
                                           kFastCgiResult.substr(8, 10), kFastCgiResult.substr(18)},
                                .outcome = ProbeOutcome::Answered},
                    ExchangeRow{.name = "FastCgiRecordCutShort",
                                .kind = ProbeKind::FastCgi,
                                .request = kFastCgiRequest,
                                .chunks = {kFastCgiResult.substr(0, 20)},
                                .close = true,
                                .outcome = ProbeOutcome::WrongAnswer,
                                .detail = "End of file"},
                    ExchangeRow{.name = "FastCgiRecordCutShortAndSilent",
                                .kind = ProbeKind::FastCgi,
                                .request = kFastCgiRequest,
                                .chunks = {kFastCgiResult.substr(0, 20)},
                                .outcome = ProbeOutcome::NoAnswer},
                    ExchangeRow{.name = "FastCgiUnknownType",
                                .kind = ProbeKind::FastCgi,
                                .request = kFastCgiRequest,
                                .chunks = {fastCgiRecord(11, "\x09\x00\x00\x00\x00\x00\x00\x00"s)},
                                .outcome = ProbeOutcome::WrongAnswer},
                    ExchangeRow{.name = "FastCgiGotHttp",
                                .kind = ProbeKind::FastCgi,
                                .request = kFastCgiRequest,
                                .chunks = {"HTTP/1.1 400 Bad Request\r\n"},
                                .outcome = ProbeOutcome::WrongAnswer},
                    ExchangeRow{.name = "FastCgiClosedWithNoBytes",
                                .kind = ProbeKind::FastCgi,
                                .request = kFastCgiRequest,
                                .close = true,
                                .outcome = ProbeOutcome::WrongAnswer,
                                .detail = "End of file"},
                    ExchangeRow{.name = "DatabaseHandshake",
                                .kind = ProbeKind::Database,
                                .chunks = {kHandshake.substr(0, 2), kHandshake.substr(2)},
                                .outcome = ProbeOutcome::Answered},
                    ExchangeRow{.name = "DatabaseErrorPacketSplit",
                                .kind = ProbeKind::Database,
                                .chunks = {kTooMany.substr(0, 6), kTooMany.substr(6)},
                                .outcome = ProbeOutcome::Refused,
                                .detail = "Too many connections"},
                    ExchangeRow{
                        .name = "DatabaseErrorPacketWithSqlState",
                        .kind = ProbeKind::Database,
                        .chunks = {databasePacket("\xff\x10\x04#08004Too many connections"s)},
                        .outcome = ProbeOutcome::Refused,
                        .detail = "Too many connections"},
                    ExchangeRow{.name = "DatabaseErrorPacketCutShort",
                                .kind = ProbeKind::Database,
                                .chunks = {kTooMany.substr(0, 10)},
                                .close = true,
                                .outcome = ProbeOutcome::WrongAnswer,
                                .detail = "End of file"},
                    ExchangeRow{.name = "DatabaseSecondPacketFirst",
                                .kind = ProbeKind::Database,
                                .chunks = {"\x05\x00\x00\x01\x0a"s},
                                .outcome = ProbeOutcome::WrongAnswer},
                    ExchangeRow{.name = "DatabaseGotHttp",
                                .kind = ProbeKind::Database,
                                .chunks = {"HTTP/1.1 400 Bad Request\r\n"},
                                .outcome = ProbeOutcome::WrongAnswer},
                    ExchangeRow{.name = "DatabaseClosedWithNoBytes",
                                .kind = ProbeKind::Database,
                                .close = true,
                                .outcome = ProbeOutcome::WrongAnswer,
                                .detail = "End of file"},
                    ExchangeRow{.name = "DatabaseSilent",
                                .kind = ProbeKind::Database,
                                .outcome = ProbeOutcome::NoAnswer},
                    ExchangeRow{.name = "EngineConnectionAlone",
                                .kind = ProbeKind::Connection,
                                .outcome = ProbeOutcome::Answered}),
    [](const auto& info) { return std::string(info.param.name); });

// A Unix listener in a folder of its own; `backlog` 0 takes one pending connection.
struct UnixListener {
  explicit UnixListener(const std::string& name, int backlog)
      : path(std::filesystem::temp_directory_path() /
             (name + "-" + std::to_string(::getpid()) + ".sock")) {
    std::filesystem::remove(path);
    fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    path.string().copy(address.sun_path, sizeof(address.sun_path) - 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    EXPECT_EQ(::listen(fd, backlog), 0);
  }
  UnixListener(const UnixListener&) = delete;
  UnixListener& operator=(const UnixListener&) = delete;
  ~UnixListener() {
    ::close(fd);
    std::filesystem::remove(path);
  }
  ListeningSocket socket() const { return {.family = AF_UNIX, .path = path.string()}; }

  std::filesystem::path path;
  int fd;
};

struct ConnectRow {
  const char* name;
  // How full the listener's backlog is made before the probes run; -1: no listener at all.
  int pending;
  // How many targets name the same address.
  int targets;
  ProbeOutcome outcome = ProbeOutcome::Answered;
  std::string detail = {};
};

class ProbeConnect : public testing::TestWithParam<ConnectRow> {};

TEST_P(ProbeConnect, OneConnectionPerAddress) {
  const ConnectRow& row = GetParam();
  UnixListener listener(row.name, 0);
  std::vector<int> clients;
  for (int client = 0; client < row.pending; ++client) {
    clients.push_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const ListeningSocket target = listener.socket();
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    target.path.copy(address.sun_path, sizeof(address.sun_path) - 1);
    ASSERT_EQ(::connect(clients.back(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  }
  if (row.pending < 0) std::filesystem::remove(listener.path);
  const std::vector<ProbeTarget> targets(row.targets, {listener.socket(), ProbeKind::Connection});
  const std::vector<ProbeResult> results = runProbes(targets, kLimit);
  ASSERT_EQ(results.size(), targets.size());
  for (const ProbeResult& result : results) {
    EXPECT_EQ(result.address, "unix:" + listener.path.string());
    EXPECT_EQ(outcomeName(result.outcome), outcomeName(row.outcome));
    EXPECT_EQ(result.detail, row.detail);
  }
  // Every connection that reached the listener is still queued there: one per address.
  int accepted = 0;
  for (int fd = 0; (fd = ::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
    ::close(fd);
    ++accepted;
  }
  EXPECT_EQ(accepted, row.outcome == ProbeOutcome::Answered ? 1 : std::max(row.pending, 0));
  for (const int client : clients) ::close(client);
}

INSTANTIATE_TEST_SUITE_P(Rows, ProbeConnect,
                         testing::Values(ConnectRow{.name = "Listening",
                                                    .pending = 0,
                                                    .targets = 1,
                                                    .outcome = ProbeOutcome::Answered},
                                         ConnectRow{.name = "SameAddressTwice",
                                                    .pending = 0,
                                                    .targets = 2,
                                                    .outcome = ProbeOutcome::Answered},
                                         ConnectRow{.name = "BacklogFull",
                                                    .pending = 1,
                                                    .targets = 1,
                                                    .outcome = ProbeOutcome::NoAnswer,
                                                    .detail = "Resource temporarily unavailable"},
                                         ConnectRow{.name = "SocketFileGone",
                                                    .pending = -1,
                                                    .targets = 1,
                                                    .outcome = ProbeOutcome::Refused,
                                                    .detail = "No such file or directory"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

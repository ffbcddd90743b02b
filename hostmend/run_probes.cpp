// The probes are coroutines on one io_context: each waits for its connection and its answer
// or for its timer, whichever comes first, and the loser is cancelled.
#include "run_probes.h"

#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <map>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>

#include "probe_addresses.h"

namespace asio = boost::asio;
using asio::ip::tcp;
using asio::local::stream_protocol;
using namespace asio::experimental::awaitable_operators;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kAsTuple = asio::as_tuple(asio::use_awaitable);
// Enough for every answer that decides: the longest is a FastCGI result record.
constexpr std::size_t kReadSize = 512;

ProbeVerdict ended(ProbeOutcome outcome, const std::error_code& error) {
  return {.decided = true, .outcome = outcome, .detail = error.message()};
}

// The connection failed or broke: refused or reset, whatever the system's reason.
ProbeVerdict failed(const boost::system::error_code& error) {
  return ended(ProbeOutcome::Refused, error);
}

// Writes the kind's request, then reads until the bytes decide.
template <class Socket>
asio::awaitable<ProbeVerdict> exchange(Socket& socket, ProbeKind kind) {
  if (ProbeVerdict verdict = readAnswer(kind, {}, false); verdict.decided) co_return verdict;
  if (const std::string_view request = probeRequest(kind); !request.empty()) {
    const auto [error, sent] = co_await asio::async_write(socket, asio::buffer(request), kAsTuple);
    if (error) co_return failed(error);
  }
  std::string received;
  std::array<char, kReadSize> chunk{};
  for (;;) {
    const auto [error, got] = co_await socket.async_read_some(asio::buffer(chunk), kAsTuple);
    received.append(chunk.data(), got);
    const bool closed = error == asio::error::eof;
    if (error && !closed) co_return failed(error);
    ProbeVerdict verdict = readAnswer(kind, received, closed);
    if (verdict.decided) {
      // The server closed before saying enough: its reason is the end of the stream.
      if (closed && verdict.detail.empty() && verdict.outcome == ProbeOutcome::WrongAnswer) {
        verdict.detail = error.message();
      }
      socket.close();
      co_return verdict;
    }
  }
}

asio::awaitable<ProbeVerdict> connectAndExchange(const ListeningSocket& target, ProbeKind kind) {
  const auto executor = co_await asio::this_coro::executor;
  if (target.family == AF_UNIX) {
    stream_protocol::socket socket(executor);
    socket.open();
    socket.non_blocking(true);
    // Connected by hand: a Unix socket connects at once or not at all, and one whose backlog
    // is full refuses a non-blocking connect with EAGAIN, which the library would take for
    // a connection under way.
    const stream_protocol::endpoint endpoint(target.path);
    if (::connect(socket.native_handle(), endpoint.data(), endpoint.size()) != 0) {
      const std::error_code error(errno, std::system_category());
      co_return ended(errno == EAGAIN ? ProbeOutcome::NoAnswer : ProbeOutcome::Refused, error);
    }
    co_return co_await exchange(socket, kind);
  }
  asio::ip::address address;
  if (target.family == AF_INET) {
    asio::ip::address_v4::bytes_type bytes{};
    std::copy_n(target.address.begin(), bytes.size(), bytes.begin());
    address = asio::ip::address_v4(bytes);
  } else {
    address = asio::ip::address_v6(target.address);
  }
  tcp::socket socket(executor);
  const auto [error] = co_await socket.async_connect(tcp::endpoint(address, target.port), kAsTuple);
  if (error) co_return failed(error);
  co_return co_await exchange(socket, kind);
}

// Runs `conversation` against the limit and fills in `result`.
asio::awaitable<void> timed(asio::awaitable<ProbeVerdict> conversation,
                            std::chrono::milliseconds limit, ProbeResult& result) {
  const auto started = Clock::now();
  asio::steady_timer timer(co_await asio::this_coro::executor, limit);
  auto outcome = co_await (std::move(conversation) || timer.async_wait(asio::use_awaitable));
  if (const ProbeVerdict* verdict = std::get_if<ProbeVerdict>(&outcome)) {
    result.outcome = verdict->outcome;
    result.detail = verdict->detail;
  } else {
    result.outcome = ProbeOutcome::NoAnswer;
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
}

// Lets an error that no probe handles (memory ran out) end the run as any other would.
void rethrow(const std::exception_ptr& error) {
  if (error) std::rethrow_exception(error);
}

}  // namespace

std::vector<ProbeResult> runProbes(const std::vector<ProbeTarget>& targets,
                                   std::chrono::milliseconds limit) {
  asio::io_context events;
  std::vector<ProbeResult> results(targets.size());
  // The first target of each address is probed; later ones copy its result.
  std::map<std::string, std::size_t> probed;
  for (std::size_t index = 0; index < targets.size(); ++index) {
    results[index].address = formatAddress(targets[index].socket);
    if (!probed.emplace(results[index].address, index).second) continue;
    asio::co_spawn(events,
                   timed(connectAndExchange(targets[index].socket, targets[index].kind), limit,
                         results[index]),
                   rethrow);
  }
  events.run();
  for (std::size_t index = 0; index < targets.size(); ++index) {
    const std::size_t first = probed.at(results[index].address);
    if (first != index) results[index] = results[first];
  }
  return results;
}

ProbeResult probeConnected(int fd, ProbeKind kind, std::chrono::milliseconds limit) {
  asio::io_context events;
  stream_protocol::socket socket(events, stream_protocol(), fd);
  ProbeResult result;
  asio::co_spawn(events, timed(exchange(socket, kind), limit, result), rethrow);
  events.run();
  return result;
}

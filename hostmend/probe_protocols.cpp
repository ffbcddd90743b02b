#include "probe_protocols.h"

#include <cstddef>
#include <cstdint>

using namespace std::string_view_literals;

namespace {

// OPTIONS on the server itself ("*") reaches no site and runs nothing; HTTP/1.0 makes the
// server close after its answer.
constexpr std::string_view kHttpRequest = "OPTIONS * HTTP/1.0\r\n\r\n";
constexpr std::string_view kHttpAnswer = "HTTP/";

// An FCGI_GET_VALUES record (version 1, type 9, request id 0, 48 bytes of content, no
// padding) asking for the three values every PHP-FPM worker sets for itself; each name-value
// pair is a one-byte name length, a zero value length and the name. A worker answers it
// from its accept loop, before any request and without running a script.
constexpr std::string_view kFastCgiRequest =
    "\x01\x09\x00\x00\x00\x30\x00\x00"
    "\x0e\x00"
    "FCGI_MAX_CONNS"
    "\x0d\x00"
    "FCGI_MAX_REQS"
    "\x0f\x00"
    "FCGI_MPXS_CONNS"sv;
// The answer's header starts with version 1, FCGI_GET_VALUES_RESULT (10), request id 0.
constexpr std::string_view kFastCgiAnswer = "\x01\x0a\x00\x00"sv;
constexpr std::size_t kFastCgiHeaderSize = 8;

// A MariaDB/MySQL packet: a three-byte little-endian payload length, a sequence number (0
// for the server's first packet), then the payload, whose first byte is 10 for the
// handshake of protocol version 10 and 0xff for an error packet.
constexpr std::size_t kPacketHeaderSize = 4;
constexpr unsigned char kHandshakeV10 = 0x0a;
constexpr unsigned char kErrorPacket = 0xff;
// An error packet's message is at most 512 bytes; anything far longer is not one.
constexpr std::size_t kLongestErrorPacket = 4096;

unsigned char byteAt(std::string_view bytes, std::size_t index) {
  return static_cast<unsigned char>(bytes[index]);
}

ProbeVerdict decided(ProbeOutcome outcome, std::string detail = {}) {
  return {.decided = true, .outcome = outcome, .detail = std::move(detail)};
}

// Undecided while `received` is a proper prefix of `expected`; answered once it starts with
// all of it; a wrong answer at the first byte that differs.
ProbeVerdict matchPrefix(std::string_view expected, std::string_view received) {
  const std::size_t common = std::min(expected.size(), received.size());
  if (received.substr(0, common) != expected.substr(0, common)) {
    return decided(ProbeOutcome::WrongAnswer);
  }
  if (common == expected.size()) return decided(ProbeOutcome::Answered);
  return {};
}

ProbeVerdict readFastCgiAnswer(std::string_view received) {
  ProbeVerdict header = matchPrefix(kFastCgiAnswer, received);
  if (!header.decided || header.outcome != ProbeOutcome::Answered) return header;
  // The whole record is read: a worker that stops in the middle of it is not answering.
  if (received.size() < kFastCgiHeaderSize) return {};
  const std::size_t length =
      (std::size_t{byteAt(received, 4)} << 8U) + byteAt(received, 5) + byteAt(received, 6);
  if (received.size() < kFastCgiHeaderSize + length) return {};
  return decided(ProbeOutcome::Answered);
}

ProbeVerdict readDatabaseGreeting(std::string_view received) {
  if (received.size() <= kPacketHeaderSize) return {};
  const std::size_t length = byteAt(received, 0) + (std::size_t{byteAt(received, 1)} << 8U) +
                             (std::size_t{byteAt(received, 2)} << 16U);
  if (byteAt(received, 3) != 0 || length == 0) return decided(ProbeOutcome::WrongAnswer);
  if (byteAt(received, 4) == kHandshakeV10) return decided(ProbeOutcome::Answered);
  if (byteAt(received, 4) != kErrorPacket || length > kLongestErrorPacket) {
    return decided(ProbeOutcome::WrongAnswer);
  }
  if (received.size() < kPacketHeaderSize + length) return {};
  // 0xff, a two-byte error number, then the message; a client that announced protocol 4.1
  // would get "#" and a five-character SQL state before it, which a greeting does not have,
  // but a server may send it all the same.
  std::string_view message = received.substr(kPacketHeaderSize + 3, length - 3);
  if (message.size() >= 6 && message[0] == '#') message.remove_prefix(6);
  return decided(ProbeOutcome::Refused, std::string(message));
}

}  // namespace

std::string_view outcomeName(ProbeOutcome outcome) {
  switch (outcome) {
    case ProbeOutcome::NoAnswer:
      return "no answer";
    case ProbeOutcome::Refused:
      return "refused";
    case ProbeOutcome::WrongAnswer:
      return "wrong answer";
    case ProbeOutcome::Answered:
      break;
  }
  return "answered";
}

std::string_view probeRequest(ProbeKind kind) {
  switch (kind) {
    case ProbeKind::Http:
      return kHttpRequest;
    case ProbeKind::FastCgi:
      return kFastCgiRequest;
    case ProbeKind::Connection:
    case ProbeKind::Database:
      break;
  }
  return {};
}

ProbeVerdict readAnswer(ProbeKind kind, std::string_view received, bool closed) {
  ProbeVerdict verdict;
  switch (kind) {
    case ProbeKind::Connection:
      return decided(ProbeOutcome::Answered);
    case ProbeKind::Http:
      verdict = matchPrefix(kHttpAnswer, received);
      break;
    case ProbeKind::FastCgi:
      verdict = readFastCgiAnswer(received);
      break;
    case ProbeKind::Database:
      verdict = readDatabaseGreeting(received);
      break;
  }
  // A server that ends its side before it has said enough has not answered.
  if (!verdict.decided && closed) return decided(ProbeOutcome::WrongAnswer);
  return verdict;
}

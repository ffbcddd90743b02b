#include "journal.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>

#ifndef HOSTMEND_VERSION
#error "HOSTMEND_VERSION must name the version"
#endif

namespace {

const char kJournalSocket[] = "/run/systemd/journal/socket";

// Made once with `systemd-id128 new`; they never change, since queries and the catalog
// name them. In the order of JournalKind.
constexpr std::array<std::string_view, 9> kMessageIds = {
    "d9810defc7814e2e84b06cc98ee34bd3",  // ServiceAction
    "0bb8bdc105d643acb58e76f7c7f5d9bc",  // NameRefused
    "049f1a72ba0e44a393fa0b051a37130b",  // RegistryFailed
    "22544003bde640d19eb9edfe329cd6bd",  // NoDatabase
    "a29cafd310034d55a8381d353dcfaf07",  // DiskReport
    "5136bc5896384ab4bbbf1812b7a05c8c",  // LocationCleaned
    "df3165fa96e24d94962491701d655aac",  // MatchLeft
    "c104600dd4a543419d586800791c9653",  // CleanupFinished
    "4f9f243367944d938175e37e117913a2",  // ToolFailed
};
constexpr std::size_t kMessageIdLength = 32;
static_assert(std::all_of(kMessageIds.begin(), kMessageIds.end(),
                          [](std::string_view id) { return id.size() == kMessageIdLength; }));

// Appends `text` at `out`; returns the end of what it wrote.
char* append(char* out, std::string_view text) { return std::copy(text.begin(), text.end(), out); }

struct Run {
  const char* tool = "";
  pid_t callerPid = 0;
  std::string callerComm;
  // The fields every entry of the run carries, encoded once, with the first entry.
  std::string commonFields;
  // The datagram being made, kept from entry to entry for its memory.
  std::string datagram;
};

Run run;

std::string readComm(pid_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/comm";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  char buffer[64];
  const ssize_t length = ::read(fd, buffer, sizeof buffer);
  ::close(fd);
  if (length <= 0) return "";
  std::string comm(buffer, static_cast<std::size_t>(length));
  if (comm.back() == '\n') comm.pop_back();
  return comm;
}

// A random id128 as systemd makes one (a version 4 UUID), in its 32-digit form. Never
// waits for the entropy pool: early in boot the pool's insecure output is good enough to
// tell runs apart.
std::string newRunId() {
  std::array<unsigned char, 16> bytes{};
  if (::getrandom(bytes.data(), bytes.size(), GRND_INSECURE) !=
      static_cast<ssize_t>(bytes.size())) {
    // A kernel before 5.6: take what the pool has at once, or the clock and our pid.
    if (::getrandom(bytes.data(), bytes.size(), GRND_NONBLOCK) !=
        static_cast<ssize_t>(bytes.size())) {
      const auto seed = static_cast<unsigned long long>(::getpid()) ^
                        static_cast<unsigned long long>(::time(nullptr)) << 20;
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<unsigned char>((seed >> (8 * (i % 8))) ^ (i * 0x9d));
      }
    }
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id;
  for (const unsigned char byte : bytes) {
    id += kHex[byte >> 4];
    id += kHex[byte & 0xf];
  }
  return id;
}

// One datagram on a socket of its own, never waiting: a full queue (journald stopped or
// stuck) or no journal at all drops it. A socket per entry holds no descriptor while the
// tool works, where the cleanup counts its descriptors.
void sendDatagram(const std::string& datagram) {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, kJournalSocket, sizeof kJournalSocket);
  static_cast<void>(::sendto(fd, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&address), sizeof address));
  static_cast<void>(::close(fd));
}

}  // namespace

void startJournal(const char* tool) {
  run.tool = tool;
  // Taken now: once the caller has gone, our parent is someone else.
  run.callerPid = ::getppid();
  run.callerComm = readComm(run.callerPid);
}

void sendJournalEntry(JournalKind kind, int priority, std::string_view message,
                      std::span<const JournalField> fields) noexcept {
  try {
    if (run.commonFields.empty()) {
      const std::string runId = newRunId();
      const std::string callerPid = std::to_string(run.callerPid);
      const std::array<JournalField, 6> common = {{{"SYSLOG_IDENTIFIER", run.tool},
                                                   {"HOSTMEND_TOOL", run.tool},
                                                   {"HOSTMEND_VERSION", HOSTMEND_VERSION},
                                                   {"HOSTMEND_RUN_ID", runId},
                                                   {"HOSTMEND_CALLER_PID", callerPid},
                                                   {"HOSTMEND_CALLER_COMM", run.callerComm}}};
      run.commonFields = encodeJournalEntry(common);
    }
    // Written straight into one buffer, sized once: a restart of 300 services sends 300.
    // The id and the priority are plain text of a known length, written as they are.
    const std::string_view id = kMessageIds.at(static_cast<std::size_t>(kind));
    constexpr std::string_view kIdName = "MESSAGE_ID=";
    constexpr std::string_view kPriorityName = "PRIORITY=";
    std::size_t room = journalFieldRoom("MESSAGE", message) + kIdName.size() + kMessageIdLength +
                       1 + kPriorityName.size() + 2 + run.commonFields.size();
    for (const auto& field : fields) room += journalFieldRoom(field.name, field.value);
    std::string& datagram = run.datagram;
    datagram.resize(room);
    char* end = writeJournalField(datagram.data(), "MESSAGE", message);
    end = append(end, kIdName);
    std::memcpy(end, id.data(), kMessageIdLength);
    end += kMessageIdLength;
    *end++ = '\n';
    end = append(end, kPriorityName);
    *end++ = static_cast<char>('0' + priority);
    *end++ = '\n';
    end = append(end, run.commonFields);
    for (const auto& field : fields) end = writeJournalField(end, field.name, field.value);
    datagram.resize(static_cast<std::size_t>(end - datagram.data()));
    sendDatagram(datagram);
  } catch (...) {
    // Out of memory: the entry is dropped, like one the journal could not take.
  }
}

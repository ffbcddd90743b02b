#include "journal.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

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

// The run's own fields, found by startJournal before the first entry and only read after.
struct Run {
  const char* tool = "";
  std::string runId;
  std::string callerPid;
  std::string callerComm;
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

}  // namespace

void startJournal(const char* tool) {
  run.tool = tool;
  run.runId = newRunId();
  // Taken now: once the caller has gone, our parent is someone else.
  const pid_t caller = ::getppid();
  run.callerPid = std::to_string(caller);
  run.callerComm = readComm(caller);
}

void sendJournalEntry(JournalKind kind, int priority, std::string_view message,
                      std::span<const JournalField> fields) noexcept {
  try {
    const char priorityText[] = {static_cast<char>('0' + priority), '\0'};
    std::vector<JournalField> entry = {
        {"MESSAGE", message},
        {"MESSAGE_ID", kMessageIds.at(static_cast<std::size_t>(kind))},
        {"PRIORITY", priorityText},
        {"SYSLOG_IDENTIFIER", run.tool},
        {"HOSTMEND_TOOL", run.tool},
        {"HOSTMEND_VERSION", HOSTMEND_VERSION},
        {"HOSTMEND_RUN_ID", run.runId},
        {"HOSTMEND_CALLER_PID", run.callerPid},
        {"HOSTMEND_CALLER_COMM", run.callerComm}};
    entry.insert(entry.end(), fields.begin(), fields.end());
    // A socket of its own, never waiting: a full queue (journald stopped or stuck) or no
    // journal at all drops the entry. A socket per entry holds no descriptor while the tool
    // works, where the cleanup counts its descriptors.
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, kJournalSocket, sizeof kJournalSocket);
    static_cast<void>(sendJournalFields(fd, &address, entry));
    static_cast<void>(::close(fd));
  } catch (...) {
    // Out of memory: the entry is dropped, like one the journal could not take.
  }
}

// The kernel's tables are read through the sock_diag netlink interface rather than
// /proc/net/{tcp,tcp6,unix}: the kernel filters on the listening state itself, so the cost
// does not grow with the connections of a busy server; a Unix socket's name arrives as
// bytes (a path with spaces or newlines, an abstract name with NULs) instead of a line to
// split; and an IPv6 listener says whether it also takes IPv4 (INET_DIAG_SKV6ONLY), which
// no text table shows.
#include "listening_sockets.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>
#include <system_error>
#include <unordered_set>

namespace fs = std::filesystem;

namespace {

// The kernel's state number of a listening socket (TCP_LISTEN in its tcp_states.h); Unix
// stream sockets use the same number.
constexpr unsigned kListenState = 10;
// Large enough for one multi-part message of a dump (the kernel fills up to a page or two).
constexpr std::size_t kReceiveSize = std::size_t{64} * 1024;

[[noreturn]] void raiseErrno(const std::string& what) {
  throw std::system_error(errno, std::system_category(), what);
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// The inodes of the sockets among the process's descriptors ("socket:[INODE]").
std::unordered_set<ino_t> socketInodes(pid_t pid) {
  std::unordered_set<ino_t> inodes;
  std::error_code error;
  const fs::path folder = fs::path("/proc") / std::to_string(pid) / "fd";
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    std::error_code linkError;
    const std::string target = fs::read_symlink(entry->path(), linkError).string();
    // A descriptor closed since the listing was read is simply gone.
    if (linkError) continue;
    constexpr std::string_view kPrefix = "socket:[";
    if (target.starts_with(kPrefix) && target.ends_with(']')) {
      inodes.insert(std::stoull(target.substr(kPrefix.size(), target.size() - kPrefix.size() - 1)));
    }
  }
  if (error) throw std::system_error(error, "cannot read " + folder.string());
  return inodes;
}

bool inOtherNetworkNamespace(pid_t pid) {
  struct stat ours = {};
  struct stat theirs = {};
  const std::string path = "/proc/" + std::to_string(pid) + "/ns/net";
  if (::stat("/proc/self/ns/net", &ours) != 0) raiseErrno("cannot read /proc/self/ns/net");
  if (::stat(path.c_str(), &theirs) != 0) raiseErrno("cannot read " + path);
  return ours.st_ino != theirs.st_ino || ours.st_dev != theirs.st_dev;
}

// Sends one dump request and hands each answer's message to `take` until the dump is done.
template <class Request>
void dumpTable(const Request& request, const std::function<void(const nlmsghdr&)>& take) {
  const Descriptor netlink(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (netlink.get() < 0) raiseErrno("sock_diag");
  struct {
    nlmsghdr header;
    Request body;
  } message = {};
  message.header.nlmsg_len = sizeof(message);
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  message.body = request;
  sockaddr_nl kernel = {};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(netlink.get(), &message, sizeof(message), 0,
               reinterpret_cast<const sockaddr*>(&kernel), sizeof(kernel)) < 0) {
    raiseErrno("sock_diag");
  }
  const auto buffer = std::make_unique<nlmsghdr[]>(kReceiveSize / sizeof(nlmsghdr));
  for (;;) {
    const ssize_t got = ::recv(netlink.get(), buffer.get(), kReceiveSize, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      raiseErrno("sock_diag");
    }
    const auto size = static_cast<std::size_t>(got);
    for (std::size_t offset = 0; offset + sizeof(nlmsghdr) <= size;) {
      const auto* part =
          reinterpret_cast<const nlmsghdr*>(reinterpret_cast<const char*>(buffer.get()) + offset);
      if (part->nlmsg_len < sizeof(nlmsghdr) || offset + part->nlmsg_len > size) break;
      if (part->nlmsg_type == NLMSG_DONE) return;
      if (part->nlmsg_type == NLMSG_ERROR) {
        const auto* failure = static_cast<const nlmsgerr*>(NLMSG_DATA(part));
        errno = -failure->error;
        raiseErrno("sock_diag");
      }
      take(*part);
      offset += NLMSG_ALIGN(part->nlmsg_len);
    }
    if (got == 0) return;
  }
}

// The attributes that follow a diag message of type `Message`, each handed to `take`.
template <class Message>
void forEachAttribute(const nlmsghdr& part, const std::function<void(const rtattr&)>& take) {
  auto left = static_cast<unsigned>(part.nlmsg_len - NLMSG_LENGTH(sizeof(Message)));
  const auto* attribute = reinterpret_cast<const rtattr*>(
      static_cast<const char*>(NLMSG_DATA(&part)) + NLMSG_ALIGN(sizeof(Message)));
  for (; RTA_OK(attribute, left); attribute = RTA_NEXT(attribute, left)) take(*attribute);
}

void addTcpListeners(int family, const std::unordered_set<ino_t>& inodes,
                     std::vector<ListeningSocket>& sockets) {
  inet_diag_req_v2 request = {};
  request.sdiag_family = static_cast<std::uint8_t>(family);
  request.sdiag_protocol = IPPROTO_TCP;
  request.idiag_states = 1U << kListenState;
  dumpTable(request, [&](const nlmsghdr& part) {
    const auto& found = *static_cast<const inet_diag_msg*>(NLMSG_DATA(&part));
    if (inodes.count(found.idiag_inode) == 0) return;
    ListeningSocket socket{.family = family, .port = ntohs(found.id.idiag_sport)};
    std::memcpy(socket.address.data(), found.id.idiag_src, family == AF_INET ? 4 : 16);
    forEachAttribute<inet_diag_msg>(part, [&](const rtattr& attribute) {
      if (attribute.rta_type == INET_DIAG_SKV6ONLY) {
        socket.v6only = *static_cast<const std::uint8_t*>(RTA_DATA(&attribute)) != 0;
      }
    });
    sockets.push_back(std::move(socket));
  });
}

void addUnixListeners(const std::unordered_set<ino_t>& inodes,
                      std::vector<ListeningSocket>& sockets) {
  unix_diag_req request = {};
  request.sdiag_family = AF_UNIX;
  request.udiag_states = 1U << kListenState;
  request.udiag_show = UDIAG_SHOW_NAME;
  dumpTable(request, [&](const nlmsghdr& part) {
    const auto& found = *static_cast<const unix_diag_msg*>(NLMSG_DATA(&part));
    if (found.udiag_type != SOCK_STREAM || inodes.count(found.udiag_ino) == 0) return;
    ListeningSocket socket{.family = AF_UNIX};
    forEachAttribute<unix_diag_msg>(part, [&](const rtattr& attribute) {
      if (attribute.rta_type == UNIX_DIAG_NAME) {
        socket.path.assign(static_cast<const char*>(RTA_DATA(&attribute)), RTA_PAYLOAD(&attribute));
      }
    });
    // A path's name comes with its terminating NUL; an abstract one is exactly as bound.
    if (!socket.path.empty() && socket.path[0] != '\0') {
      socket.path.erase(socket.path.find_last_not_of('\0') + 1);
    }
    // An unnamed listener cannot be reached; there is nothing to probe.
    if (!socket.path.empty()) sockets.push_back(std::move(socket));
  });
}

}  // namespace

ProcessSockets findListeningSockets(pid_t pid) {
  ProcessSockets found;
  const std::unordered_set<ino_t> inodes = socketInodes(pid);
  if (inOtherNetworkNamespace(pid)) {
    found.otherNetworkNamespace = true;
    return found;
  }
  if (inodes.empty()) return found;
  addTcpListeners(AF_INET, inodes, found.sockets);
  addTcpListeners(AF_INET6, inodes, found.sockets);
  addUnixListeners(inodes, found.sockets);
  return found;
}

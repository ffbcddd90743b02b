#include "sandbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <linux/capability.h>
#include <linux/fs.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace {

// The processes that whenRemovedFrom and holdLockWhileToolRuns started for this run.
std::vector<pid_t> besideTool;
// The write ends of the pipes whose end tells those processes that the tool has ended.
std::vector<int> untilToolEnds;

// The run's scratch directory, for what the set-up keeps outside the fake host.
fs::path scratchOfRun;

// Raised by cannotSetUp, and told back as the reason the row is left out.
struct SetUpUnavailable : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The locations the tools read or change. Each is an empty private directory for the run;
// the journal's, so that no run ever reaches this machine's journal.
const std::array kMaskedDirectories = {"/opt",
                                       "/root",
                                       "/usr/local",
                                       "/var/cache",
                                       "/lib/systemd/system",
                                       "/etc/init.d",
                                       "/run/systemd/journal"};
const char kJournalSocket[] = "/run/systemd/journal/socket";

[[noreturn]] void fail(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void mountOrFail(const char* source, const std::string& target, const char* type,
                 unsigned long flags, const std::string& options = "") {
  if (::mount(source, target.c_str(), type, flags, options.empty() ? nullptr : options.c_str()) !=
      0) {
    fail("mount " + target);
  }
}

void writeProcFile(const std::string& path, const std::string& text) {
  std::ofstream file(path);
  file << text;
  if (!file.flush()) fail("write " + path);
}

// Makes `directory` writable for this namespace only: an overlay whose changes live in
// `scratch`.
void overlayDirectory(const fs::path& directory, const fs::path& scratch) {
  static int count = 0;
  const fs::path upper = scratch / ("upper" + std::to_string(count));
  const fs::path work = scratch / ("work" + std::to_string(count++));
  fs::create_directories(upper);
  fs::create_directories(work);
  mountOrFail("overlay", directory, "overlay", 0,
              "lowerdir=" + directory.string() + ",upperdir=" + upper.string() +
                  ",workdir=" + work.string());
}

void emptyDirectory(const fs::path& directory, const fs::path& scratch) {
  if (!fs::exists(directory)) {
    fs::path existing = directory.parent_path();
    while (!fs::exists(existing)) existing = existing.parent_path();
    overlayDirectory(fs::canonical(existing), scratch);
    fs::create_directories(directory);
  }
  mountOrFail("tmpfs", directory, "tmpfs", 0, "mode=755");
}

void enterPrivateNamespace() {
  const uid_t uid = ::geteuid();
  const gid_t gid = ::getegid();
  if (uid == 0) {
    // A network namespace of its own, so that the journal socket's queue can be as long as
    // journald's hosts make it (512 datagrams, not the kernel's 10) without touching the
    // machine's setting.
    if (::unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) fail("unshare");
    writeProcFile("/proc/sys/net/unix/max_dgram_qlen", "512");
    return;
  }
  // Without root, a user namespace grants what the mounts need; the kernel keeps the queue
  // length from it, and the reader alone keeps up with the tool.
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) fail("unshare");
  writeProcFile("/proc/self/setgroups", "deny");
  writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
  writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
}

void buildFakeHost(const fs::path& scratch, const FakeHost& host) {
  enterPrivateNamespace();
  mountOrFail("none", "/", nullptr, MS_REC | MS_PRIVATE);
  const fs::path layers = scratch / "layers";
  mountOrFail("tmpfs", layers, "tmpfs", 0);
  for (const char* directory : kMaskedDirectories) emptyDirectory(directory, layers);
  // The host's own systemctl must never be reached: only a fake may stand there.
  overlayDirectory(fs::canonical("/bin"), layers);
  fs::remove("/bin/systemctl");

  const std::string recorder =
      "{ printf '%s' \"$0\"; for a in \"$@\"; do printf ' [%s]' \"$a\"; "
      "done; echo; } >>" +
      shellQuote((scratch / "calls").string()) + "\n";
  for (const auto& program : host.programs) {
    fs::create_directories(fs::path(program.path).parent_path());
    writeFile(program.path, "#!/bin/sh\n" + recorder + program.script + "\n", 0755);
  }
  if (host.prepare) host.prepare();
}

void dropCapabilities() {
  for (int cap = 0; cap <= CAP_LAST_CAP; ++cap) ::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
}

std::string readFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A pipe whose reader has gone, at `fd`.
void pointAtGoneReader(int fd) {
  int gone[2];
  if (::pipe(gone) == 0) {
    ::close(gone[0]);
    ::dup2(gone[1], fd);
  }
}

// The file on a filesystem of one mebibyte that Output::SmallFile writes to.
fs::path smallFile(const fs::path& scratch) { return scratch / "small" / "out"; }

[[noreturn]] void execTool(const std::string& binary, const std::vector<std::string>& arguments,
                           const Launch& launch, int outFd, int errFd) {
  // Whatever the test runner ignores is not passed on: each row says what it changes.
  for (int signal = 1; signal < NSIG; ++signal) ::signal(signal, SIG_DFL);
  ::dup2(errFd, STDERR_FILENO);
  if (launch.stderrTo == Output::ReaderGone) pointAtGoneReader(STDERR_FILENO);
  if (launch.stdoutTo == Output::Pipe) ::dup2(outFd, STDOUT_FILENO);
  if (launch.stdoutTo == Output::NonBlockingPipe) {
    ::dup2(outFd, STDOUT_FILENO);
    ::fcntl(STDOUT_FILENO, F_SETFL, ::fcntl(STDOUT_FILENO, F_GETFL) | O_NONBLOCK);
  }
  if (launch.stdoutTo == Output::Full) ::dup2(::open("/dev/full", O_WRONLY), STDOUT_FILENO);
  if (launch.stdoutTo == Output::Closed) ::close(STDOUT_FILENO);
  if (launch.stdoutTo == Output::ReaderGone) pointAtGoneReader(STDOUT_FILENO);
  if (launch.stdoutTo == Output::SmallFile) {
    ::dup2(::open(smallFile(scratchOfRun).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
           STDOUT_FILENO);
  }
  if (launch.stderrTo == Output::SameAsStdout) ::dup2(STDOUT_FILENO, STDERR_FILENO);
  if (launch.sigchldIgnored) ::signal(SIGCHLD, SIG_IGN);
  if (launch.stdinClosed) {
    ::close(STDIN_FILENO);
  } else {
    ::dup2(::open("/dev/null", O_RDONLY), STDIN_FILENO);
  }
  if (launch.descriptorLimit != 0) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = launch.descriptorLimit;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(127);
  }
  if (!launch.workingDirectory.empty() && ::chdir(launch.workingDirectory.c_str()) != 0) {
    ::_exit(127);
  }
  if (launch.withoutCapabilities) dropCapabilities();
  if (launch.addressSpaceKiB > 0) {
    const rlim_t bytes = static_cast<rlim_t>(launch.addressSpaceKiB) * 1024;
    const rlimit limit{bytes, bytes};
    ::setrlimit(RLIMIT_AS, &limit);
  }
  if (launch.atProcessLimit) {
#ifdef HOSTMEND_SANITIZED
    // LeakSanitizer checks from a thread of its own, which the limit forbids.
    const char* options = std::getenv("ASAN_OPTIONS");
    ::setenv("ASAN_OPTIONS", (std::string(options ? options : "") + ":detect_leaks=0").c_str(), 1);
#endif
    // The limit is set after the switch: a switch into a user already over its limit would
    // make the exec itself fail.
    const uid_t nobody = 65534;
    const rlimit none{0, 0};
    if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0 ||
        ::setresuid(nobody, nobody, nobody) != 0 || ::setrlimit(RLIMIT_NPROC, &none) != 0) {
      ::_exit(126);
    }
  }
  // Nothing but the standard descriptors may leak into the tool.
  ::close_range(3, ~0U, 0);
  std::string name = fs::path(binary).filename();
  std::vector<char*> argv{name.data()};
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  ::execv(binary.c_str(), argv.data());
  ::_exit(127);
}

// The journal's datagram socket, bound at its path inside the namespace.
int bindJournalSocket() {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) fail("socket");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, kJournalSocket, sizeof kJournalSocket);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    fail("bind journal socket");
  }
  return fd;
}

// Takes every datagram that is waiting.
void receiveDatagrams(int fd, std::vector<std::string>& datagrams) {
  std::string buffer(1 << 18, '\0');
  for (;;) {
    const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    datagrams.emplace_back(buffer.data(), static_cast<size_t>(n));
  }
}

// Waits for the tool, reading the journal socket (when there is one) all the while, so
// that its queue never fills.
int waitReading(pid_t tool, int journal, std::vector<std::string>& datagrams) {
  // glibc 2.36's <sys/pidfd.h> lacks extern "C" for C++, so the call is made directly.
  const int exited = static_cast<int>(::syscall(SYS_pidfd_open, tool, 0));
  if (exited < 0) fail("pidfd_open");
  std::array<pollfd, 2> polls{{{exited, POLLIN, 0}, {journal, POLLIN, 0}}};
  for (;;) {
    if (::poll(polls.data(), journal < 0 ? 1 : 2, -1) < 0) {
      if (errno == EINTR) continue;
      fail("poll");
    }
    if (polls[1].revents != 0) receiveDatagrams(journal, datagrams);
    if (polls[0].revents != 0) break;
  }
  ::close(exited);
  int status = 0;
  while (::waitpid(tool, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// What the test expects of every entry's own fields, by name.
const std::array<std::pair<std::string_view, std::string_view>, 9> kKinds = {{
    {"d9810defc7814e2e84b06cc98ee34bd3", "service-action"},
    {"0bb8bdc105d643acb58e76f7c7f5d9bc", "name-refused"},
    {"049f1a72ba0e44a393fa0b051a37130b", "registry-failed"},
    {"22544003bde640d19eb9edfe329cd6bd", "no-database"},
    {"a29cafd310034d55a8381d353dcfaf07", "disk-report"},
    {"5136bc5896384ab4bbbf1812b7a05c8c", "location-cleaned"},
    {"df3165fa96e24d94962491701d655aac", "match-left"},
    {"c104600dd4a543419d586800791c9653", "cleanup-finished"},
    {"4f9f243367944d938175e37e117913a2", "tool-failed"},
}};

struct Field {
  std::string name;
  std::string value;
  bool binary = false;
};

// The fields of one datagram in the native protocol; throws on a malformed one.
std::vector<Field> decodeEntry(const std::string& datagram) {
  std::vector<Field> fields;
  size_t at = 0;
  while (at < datagram.size()) {
    const size_t end = datagram.find_first_of("=\n", at);
    if (end == std::string::npos) throw std::runtime_error("a field without its end");
    Field field{datagram.substr(at, end - at), "", datagram[end] == '\n'};
    if (!field.binary) {
      const size_t newline = datagram.find('\n', end);
      if (newline == std::string::npos) throw std::runtime_error("a value without its newline");
      field.value = datagram.substr(end + 1, newline - end - 1);
      at = newline + 1;
    } else {
      if (datagram.size() < end + 9) throw std::runtime_error("a length cut short");
      uint64_t length = 0;
      for (int i = 7; i >= 0; --i) {
        length = length << 8 | static_cast<unsigned char>(datagram[end + 1 + i]);
      }
      if (datagram.size() < end + 9 + length + 1 || datagram[end + 9 + length] != '\n') {
        throw std::runtime_error("a binary value of the wrong length");
      }
      field.value = datagram.substr(end + 9, length);
      at = end + 9 + length + 1;
    }
    fields.push_back(std::move(field));
  }
  return fields;
}

std::string ownComm() {
  std::string comm = readFile("/proc/self/comm");
  if (!comm.empty() && comm.back() == '\n') comm.pop_back();
  return comm;
}

bool isRunId(const std::string& id) {
  return id.size() == 32 && id.find_first_not_of("0123456789abcdef") == std::string::npos &&
         id[12] == '4';
}

// The entries as journalEntry writes them; what is wrong with their common fields goes to
// `faults`. The tool's parent is this process.
std::string describeEntries(const std::vector<std::string>& datagrams, const std::string& tool,
                            std::string& faults) {
  const std::map<std::string, std::string> common = {
      {"SYSLOG_IDENTIFIER", tool},
      {"HOSTMEND_TOOL", tool},
      {"HOSTMEND_VERSION", HOSTMEND_VERSION},
      {"HOSTMEND_CALLER_PID", std::to_string(::getpid())},
      {"HOSTMEND_CALLER_COMM", ownComm()}};
  std::string runId;
  std::string text;
  for (const std::string& datagram : datagrams) {
    std::vector<Field> fields;
    try {
      fields = decodeEntry(datagram);
    } catch (const std::exception& error) {
      faults += std::string("malformed datagram: ") + error.what() + "\n";
      continue;
    }
    std::string kind = "no-kind";
    std::string priority = "no-priority";
    std::string rest;
    std::set<std::string> seen;
    for (const Field& field : fields) {
      if (!seen.insert(field.name).second) faults += "twice: " + field.name + "\n";
      const auto expected = common.find(field.name);
      if (field.name == "MESSAGE_ID") {
        kind = "unknown " + field.value;
        for (const auto& [id, name] : kKinds) {
          if (field.value == id) kind = name;
        }
      } else if (field.name == "PRIORITY") {
        priority = field.value;
      } else if (field.name == "HOSTMEND_RUN_ID") {
        if (runId.empty()) runId = field.value;
        if (!isRunId(field.value) || field.value != runId) faults += "run id " + field.value + "\n";
      } else if (expected != common.end()) {
        if (field.value != expected->second) faults += field.name + "=" + field.value + "\n";
      } else {
        rest += field.name + (field.binary ? "[" + std::to_string(field.value.size()) + "]" : "") +
                "=" + field.value + "\n";
      }
    }
    for (const auto& [name, value] : common) {
      if (seen.count(name) == 0) faults += "missing " + name + "\n";
    }
    if (seen.count("HOSTMEND_RUN_ID") == 0) faults += "missing HOSTMEND_RUN_ID\n";
    text += kind + " " + priority + "\n" + rest;
  }
  return text;
}

// The sandbox process: builds the host, runs the tool, inspects, reports on `resultFd`.
[[noreturn]] void runSandbox(const fs::path& scratch, const std::string& binary,
                             const std::vector<std::string>& arguments, const FakeHost& host,
                             const Launch& launch, int outFd, int errFd, int resultFd) {
  std::string result;
  scratchOfRun = scratch;
  try {
    buildFakeHost(scratch, host);
    if (launch.stdoutTo == Output::SmallFile) {
      fs::create_directory(scratch / "small");
      mountOrFail("tmpfs", scratch / "small", "tmpfs", 0, "size=1m");
    }
    const int journal = launch.withoutJournal ? -1 : bindJournalSocket();
    const pid_t tool = ::fork();
    if (tool == 0) execTool(binary, arguments, launch, outFd, errFd);
    ::close(errFd);
    std::vector<std::string> datagrams;
    const int status = waitReading(tool, journal, datagrams);
    for (const int fd : untilToolEnds) ::close(fd);
    if (launch.stdoutTo == Output::SmallFile) {
      const std::string left = readFile(smallFile(scratch));
      ::write(outFd, left.data(), left.size());
    }
    ::close(outFd);
    for (const pid_t helper : besideTool) {
      while (::waitpid(helper, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    if (journal >= 0) receiveDatagrams(journal, datagrams);
    // Listing a deep tree that the tool left holds a descriptor per level.
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
      limit.rlim_cur = limit.rlim_max;
      ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    std::string faults;
    const std::string entries = describeEntries(datagrams, fs::path(binary).filename(), faults);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    for (const std::string& part :
         {std::to_string(code), host.inspect ? host.inspect() : "", entries, faults}) {
      result += std::to_string(part.size()) + "\n" + part;
    }
  } catch (const SetUpUnavailable& why) {
    result = "left out: " + std::string(why.what());
  } catch (const std::exception& error) {
    result = "sandbox: " + std::string(error.what());
  }
  ::write(resultFd, result.data(), result.size());
  ::_exit(0);
}

// Reads all three pipes to their end at once, so that no writer blocks.
std::array<std::string, 3> drain(std::array<int, 3> fds) {
  std::array<std::string, 3> texts;
  std::array<pollfd, 3> polls{};
  for (size_t i = 0; i < 3; ++i) polls[i] = {fds[i], POLLIN, 0};
  for (int open = 3; open > 0;) {
    if (::poll(polls.data(), polls.size(), -1) < 0) {
      if (errno == EINTR) continue;
      fail("poll");
    }
    for (size_t i = 0; i < 3; ++i) {
      if (polls[i].fd < 0 || polls[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t n = ::read(polls[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        texts[i].append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(polls[i].fd);
        polls[i].fd = -1;
        --open;
      }
    }
  }
  return texts;
}

// Appends what the tool printed to this process's file of runs, which one step after the
// end-to-end tests checks against the JSON Schemas (tests/schemas/validate.py recorded).
void recordOutput(const std::string& tool, const std::vector<std::string>& arguments,
                  const std::string& out) {
  if (arguments.empty() || out.empty()) return;
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const nlohmann::json run = {
      {"test", test == nullptr ? "" : std::string(test->test_suite_name()) + "." + test->name()},
      {"tool", tool},
      {"arguments", arguments},
      {"out", out}};
  fs::create_directories(HOSTMEND_E2E_RECORDS);
  std::ofstream file(
      fs::path(HOSTMEND_E2E_RECORDS) / ("e2e-" + std::to_string(::getpid()) + ".jsonl"),
      std::ios::app);
  file << run.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  if (!file.flush()) throw std::runtime_error("cannot record the output in " HOSTMEND_E2E_RECORDS);
}

}  // namespace

ToolRun runTool(const std::string& tool, const std::vector<std::string>& arguments,
                const FakeHost& host, const Launch& launch) {
  std::string scratchName = (fs::temp_directory_path() / "hostmend-e2e.XXXXXX").string();
  if (::mkdtemp(scratchName.data()) == nullptr) fail("mkdtemp");
  const fs::path scratch = scratchName;
  // Searchable by everyone: a tool running as another user must reach its copy.
  fs::permissions(scratch, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  fs::create_directory(scratch / "layers");
  // The tool runs from a copy, so that no mount of the fake host can hide it.
  const fs::path binary = scratch / tool;
  fs::copy_file(fs::path(HOSTMEND_BIN_DIR) / tool, binary);

  std::array<int, 2> out{}, err{}, result{};
  if (::pipe2(out.data(), O_CLOEXEC) || ::pipe2(err.data(), O_CLOEXEC) ||
      ::pipe2(result.data(), O_CLOEXEC)) {
    fail("pipe");
  }
  const pid_t sandbox = ::fork();
  if (sandbox < 0) fail("fork");
  if (sandbox == 0) {
    runSandbox(scratch, binary, arguments, host, launch, out[1], err[1], result[1]);
  }
  for (int fd : {out[1], err[1], result[1]}) ::close(fd);
  auto [outText, errText, resultText] = drain({out[0], err[0], result[0]});
  int status = 0;
  ::waitpid(sandbox, &status, 0);

  ToolRun run;
  run.out = std::move(outText);
  run.err = std::move(errText);
  run.calls = readFile(scratch / "calls");
  fs::remove_all(scratch);
  if (const std::string_view leftOut = "left out: "; resultText.starts_with(leftOut)) {
    ToolRun left;
    left.leftOut = resultText.substr(leftOut.size());
    return left;
  }
  if (resultText.starts_with("sandbox: ")) throw std::runtime_error(resultText);
  // The sandbox's parts, each as its length, a newline and its bytes.
  std::array<std::string, 4> parts;
  size_t at = 0;
  for (std::string& part : parts) {
    const size_t newline = resultText.find('\n', at);
    if (newline == std::string::npos) throw std::runtime_error("sandbox: no result");
    const size_t length = std::stoul(resultText.substr(at, newline - at));
    part = resultText.substr(newline + 1, length);
    at = newline + 1 + length;
  }
  run.status = std::stoi(parts[0]);
  run.after = std::move(parts[1]);
  run.journal = std::move(parts[2]);
  run.journalFaults = std::move(parts[3]);
  // A run that failed printed no result; what its standard output holds is not one.
  if (run.status == 0) recordOutput(tool, arguments, run.out);
  return run;
}

void runCases(const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.launch.atProcessLimit && ::geteuid() != 0) {
      std::cout << "left out, needs root to switch users: " << c.name << "\n";
      continue;
    }
#ifdef HOSTMEND_SANITIZED
    if (c.launch.addressSpaceKiB > 0) {
      std::cout << "left out, a sanitizer build cannot start in a limited address space: " << c.name
                << "\n";
      continue;
    }
#endif
    const ToolRun run = runTool(c.tool, c.arguments, c.host, c.launch);
    if (!run.leftOut.empty()) {
      const char* ci = std::getenv("CI");
      if (ci != nullptr && std::string_view(ci) == "true") {
        ADD_FAILURE() << "cannot set up, and CI=true: " << run.leftOut;
      } else {
        std::cout << "left out, " << run.leftOut << ": " << c.name << "\n";
      }
      continue;
    }
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.calls, c.calls);
    EXPECT_EQ(run.after, c.after);
    EXPECT_EQ(run.journalFaults, "");
    if (c.journal) {
      EXPECT_EQ(run.journal, *c.journal);
    }
  }
}

std::string journalEntry(std::string_view kind, int priority, const JournalFields& fields) {
  std::string text = std::string(kind) + " " + std::to_string(priority) + "\n";
  for (const auto& [name, value] : fields) text += name + "=" + value + "\n";
  return text;
}

Case withJournal(Case row, std::string entries) {
  row.journal = std::move(entries);
  return row;
}

std::string serviceActionEntry(const std::string& action, const std::string& unit,
                               const std::string& systemdUnit, int exitCode,
                               const std::string& status, int priority, const std::string& error) {
  const std::string code = std::to_string(exitCode);
  JournalFields fields = {{"MESSAGE", action + " " + unit + ": exit code " + code + ", " + status},
                          {"HOSTMEND_ACTION", action},
                          {"HOSTMEND_UNIT", unit},
                          {"OBJECT_SYSTEMD_UNIT", systemdUnit},
                          {"HOSTMEND_EXIT_CODE", code},
                          {"HOSTMEND_STATUS", status}};
  if (!error.empty()) fields.emplace_back("HOSTMEND_ERROR", error);
  return journalEntry("service-action", priority, fields);
}

std::string shellQuote(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string answer(std::string_view out, std::string_view err, int exitCode) {
  return "printf '%s' " + shellQuote(out) + "\nprintf '%s' " + shellQuote(err) + " >&2\nexit " +
         std::to_string(exitCode);
}

void writeFile(const std::string& path, std::string_view content, unsigned mode) {
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
    if (!file.flush()) throw std::runtime_error("cannot write " + path);
  }
  fs::permissions(path, static_cast<fs::perms>(mode));
}

void mountReadOnly(const std::string& path) {
  mountOrFail(path.c_str(), path, nullptr, MS_BIND);
  mountOrFail(nullptr, path, nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY);
}

void mountTmpfs(const std::string& path) { mountOrFail("tmpfs", path, "tmpfs", 0, "mode=755"); }

void bindMount(const std::string& source, const std::string& target) {
  mountOrFail(source.c_str(), target, nullptr, MS_BIND);
}

void cannotSetUp(const std::string& why) { throw SetUpUnavailable(why); }

void mountExt4WithoutEntryTypes(const std::string& path) {
  // The image lives in the run's scratch; the loop device goes with the namespace's last
  // mount of it (mount sets it to clear itself).
  const std::string image = (scratchOfRun / "layers" / "ext4.img").string();
  const std::string command = "/sbin/mkfs.ext4 -q -F -O ^filetype " + shellQuote(image) +
                              " 8M 2>&1 && /bin/mount -o loop " + shellQuote(image) + " " +
                              shellQuote(path) + " 2>&1";
  std::FILE* shell = ::popen(command.c_str(), "r");
  if (shell == nullptr) fail("popen");
  std::string said;
  for (int c; (c = std::fgetc(shell)) != EOF;) said += static_cast<char>(c);
  if (::pclose(shell) != 0) {
    while (!said.empty() && said.back() == '\n') said.pop_back();
    cannotSetUp("no ext4 without entry types on a loop device (" + said + ")");
  }
}

void makeAppendOnly(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int flags = 0;
  if (fd < 0 || ::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) fail("append-only " + path);
  flags |= FS_APPEND_FL;
  if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) fail("append-only " + path);
  ::close(fd);
}

namespace {

// An open descriptor, closed when it goes.
class Fd {
 public:
  explicit Fd(int fd, const std::string& what) : fd_(fd) {
    if (fd_ < 0) fail(what);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { ::close(fd_); }
  int get() const { return fd_; }

 private:
  int fd_;
};

constexpr int kDirectory = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

std::vector<std::string> entryNames(int directory, const std::string& path) {
  // The stream takes a descriptor of its own.
  const int copy = ::dup(directory);
  DIR* stream = copy < 0 ? nullptr : ::fdopendir(copy);
  if (stream == nullptr) {
    if (copy >= 0) ::close(copy);
    fail("fdopendir " + path);
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(stream)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(stream);
  return names;
}

// Adds the lines of `name` in the directory open as `parent`, known as `path`, and of
// everything under it.
void describe(int parent, const std::string& name, const std::string& path,
              std::vector<std::string>& lines) {
  struct stat status {};
  if (::fstatat(parent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) fail("stat " + path);
  if (S_ISLNK(status.st_mode)) {
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlinkat(parent, name.c_str(), target.data(), target.size());
    if (length < 0) fail("readlink " + path);
    target.resize(static_cast<size_t>(length));
    lines.push_back(path + " -> " + target);
  } else if (!S_ISDIR(status.st_mode)) {
    lines.push_back(path);
  } else {
    lines.push_back(path + "/");
    const Fd directory(::openat(parent, name.c_str(), kDirectory | O_NOFOLLOW), "open " + path);
    for (const auto& entry : entryNames(directory.get(), path)) {
      describe(directory.get(), entry, path + "/" + entry, lines);
    }
  }
}

}  // namespace

std::string listTree(const std::string& root) {
  struct stat status {};
  if (::lstat(root.c_str(), &status) != 0 && errno == ENOENT) return "absent\n";
  std::vector<std::string> lines;
  describe(AT_FDCWD, root, root, lines);
  std::sort(lines.begin(), lines.end());
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

void plantEntry(std::string_view entry) {
  const size_t arrow = entry.find(" -> ");
  const std::string path(entry.substr(0, arrow));
  // One name at a time, each relative to the directory before it.
  std::vector<std::string> names;
  std::istringstream parts(path);
  for (std::string name; std::getline(parts, name, '/');) {
    if (!name.empty()) names.push_back(name);
  }
  const bool isDirectory = arrow == std::string::npos && path.back() == '/';
  const size_t directories = isDirectory ? names.size() : names.size() - 1;
  auto directory = std::make_unique<Fd>(::open("/", kDirectory), "open /");
  for (size_t i = 0; i < directories; ++i) {
    if (::mkdirat(directory->get(), names[i].c_str(), 0755) != 0 && errno != EEXIST) {
      fail("mkdir " + path);
    }
    directory = std::make_unique<Fd>(::openat(directory->get(), names[i].c_str(), kDirectory),
                                     "open " + path);
  }
  if (isDirectory) return;
  if (arrow != std::string::npos) {
    const std::string target(entry.substr(arrow + 4));
    if (::symlinkat(target.c_str(), directory->get(), names.back().c_str()) != 0) {
      fail("symlink " + path);
    }
    return;
  }
  const Fd file(::openat(directory->get(), names.back().c_str(),
                         O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644),
                "create " + path);
  if (::write(file.get(), "x", 1) != 1) fail("write " + path);
}

void whenRemovedFrom(const std::string& directory, std::function<void()> work) {
  // Watching starts here, before the tool does.
  const Fd watch(::inotify_init1(IN_CLOEXEC), "inotify_init1");
  if (::inotify_add_watch(watch.get(), directory.c_str(), IN_DELETE) < 0) {
    fail("inotify_add_watch " + directory);
  }
  const pid_t helper = ::fork();
  if (helper < 0) fail("fork");
  if (helper == 0) {
    pollfd removal{watch.get(), POLLIN, 0};
    int code = 0;
    try {
      if (::poll(&removal, 1, 10000) == 1) work();
    } catch (const std::exception&) {
      code = 1;
    }
    ::_exit(code);
  }
  besideTool.push_back(helper);
}

void holdLockWhileToolRuns(const std::string& path) {
  std::array<int, 2> ready{}, toolEnded{};
  if (::pipe2(ready.data(), O_CLOEXEC) != 0 || ::pipe2(toolEnded.data(), O_CLOEXEC) != 0) {
    fail("pipe");
  }
  const pid_t holder = ::fork();
  if (holder < 0) fail("fork");
  if (holder == 0) {
    ::close(ready[0]);
    ::close(toolEnded[1]);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 || ::fcntl(fd, F_SETLK, &whole) != 0) ::_exit(1);
    ::write(ready[1], "x", 1);
    char end = 0;
    while (::read(toolEnded[0], &end, 1) < 0 && errno == EINTR) {
    }
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(toolEnded[0]);
  char held = 0;
  const ssize_t got = ::read(ready[0], &held, 1);
  ::close(ready[0]);
  if (got != 1) throw std::runtime_error("cannot lock " + path);
  besideTool.push_back(holder);
  untilToolEnds.push_back(toolEnded[1]);
}

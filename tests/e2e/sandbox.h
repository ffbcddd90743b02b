// Runs the built tools as the panel does, against a fake host: programs and files placed at
// the real fixed paths inside a private mount namespace, so the machine itself is never
// touched. Whatever is not set up here is absent for the tool, /bin/systemctl included.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A shell script placed at `path`. Every call first appends one line to the call log:
// argv[0], then each argument in brackets ("/bin/systemctl [status] [nginx]").
struct FakeProgram {
  std::string path;
  std::string script;
};

struct FakeHost {
  std::vector<FakeProgram> programs;
  // Further set-up; runs inside the namespace after the programs are in place.
  std::function<void()> prepare = {};
  // Runs inside the namespace after the tool has ended; its text is compared with
  // Case::after, to show what the tool left behind.
  std::function<std::string()> inspect = {};
};

// Where a standard stream of the tool goes: our pipe, our pipe made non-blocking on the
// tool's side, nowhere (closed), /dev/full, a pipe whose reader has already gone away, a
// file on a filesystem of one mebibyte (whose contents afterwards are the run's `out`), or,
// for standard error only, the same open file as standard output (2>&1).
enum class Output { Pipe, NonBlockingPipe, Closed, Full, ReaderGone, SmallFile, SameAsStdout };

struct Launch {
  bool stdinClosed = false;
  Output stdoutTo = Output::Pipe;
  // Pipe, ReaderGone or SameAsStdout.
  Output stderrTo = Output::Pipe;
  // Starts the tool with SIGCHLD ignored, as daemons often leave it for their children.
  bool sigchldIgnored = false;
  // Runs the tool as root without any capability, so permissions apply to it.
  bool withoutCapabilities = false;
  // Runs the tool as an unprivileged user who may not create a single process (root is
  // exempt from that limit). Needs root: without it the row is left out, saying so.
  bool atProcessLimit = false;
  // Limits the tool's address space to this many KiB (0: no limit). A sanitizer build
  // cannot start under such a limit, so there the row is left out, saying so.
  long addressSpaceKiB = 0;
  // The tool's soft limit of open descriptors; 0 leaves it as it is.
  unsigned descriptorLimit = 0;
  // The tool's working directory; empty leaves it as it is.
  std::string workingDirectory = "";
  // No journal socket at all, as in a container without journald. Otherwise the namespace
  // has one of the test's own at /run/systemd/journal/socket, read while the tool runs.
  bool withoutJournal = false;
};

struct ToolRun {
  // Set when the host could not be set up on this machine: why. Nothing else is then set.
  std::string leftOut;
  std::string out;
  std::string err;
  int status = 0;  // exit status, or 128 + the signal number
  std::string calls;
  std::string after;
  // The entries the tool sent to the journal, as journalEntry writes them.
  std::string journal;
  // What is wrong with the fields every entry carries (the tool, its version, the run id,
  // the caller) or with a datagram; empty when nothing is.
  std::string journalFaults;
};

// Runs build/bin/<tool> with `arguments` on the fake host.
ToolRun runTool(const std::string& tool, const std::vector<std::string>& arguments,
                const FakeHost& host = {}, const Launch& launch = {});

// One row of an end-to-end table: the host, the command, and every byte expected back.
// Rows name their fields; a field left out is empty.
struct Case {
  std::string name = "";
  FakeHost host = {};
  std::string tool = "";
  std::vector<std::string> arguments = {};
  std::string out = "";
  std::string err = "";
  int status = 0;
  std::string calls = "";
  std::string after = "";
  Launch launch = {};
  // The journal entries expected, when the row checks them.
  std::optional<std::string> journal = std::nullopt;
};

// Runs each case and reports every field that differs, naming the case.
void runCases(const std::vector<Case>& cases);

// A script that writes `out` and `err` exactly and exits with `exitCode`.
std::string answer(std::string_view out, std::string_view err = "", int exitCode = 0);

// The text quoted for /bin/sh, bytes unchanged.
std::string shellQuote(std::string_view text);

// One journal entry as ToolRun::journal shows it: a line with its kind (by its MESSAGE_ID:
// "service-action", "name-refused", "registry-failed", "no-database", "disk-report",
// "location-cleaned", "match-left", "cleanup-finished", "tool-failed") and its PRIORITY,
// then "NAME=value" per field in the order sent, "NAME[length]=value" for one sent in the
// binary-safe form. The fields every entry carries are checked apart (journalFaults) and
// left out.
using JournalFields = std::vector<std::pair<std::string, std::string>>;
std::string journalEntry(std::string_view kind, int priority, const JournalFields& fields);

// `row`, checking the journal entries too.
Case withJournal(Case row, std::string entries);

// The entry of one systemctl run.
std::string serviceActionEntry(const std::string& action, const std::string& unit,
                               const std::string& systemdUnit, int exitCode,
                               const std::string& status, int priority,
                               const std::string& error = "");

// Helpers for FakeHost::prepare and inspect.
void writeFile(const std::string& path, std::string_view content, unsigned mode = 0644);
void mountReadOnly(const std::string& path);
// `source` mounted again at `target` (a bind mount), which must exist.
void bindMount(const std::string& source, const std::string& target);
// A fresh ext4 whose directory entries carry no type (made without `filetype`, as old
// servers have it), on a loop device at `path`, which must exist. Where this machine has
// no loop device or no mkfs.ext4, the row is left out, saying why (cannotSetUp).
void mountExt4WithoutEntryTypes(const std::string& path);
// Sets the append-only attribute of the directory `path`: nothing in it can be removed.
void makeAppendOnly(const std::string& path);
// Ends the set-up of a row that this machine cannot give: the row is left out, saying
// `why`, or fails under CI=true, where every row must run.
[[noreturn]] void cannotSetUp(const std::string& why);
// A fresh empty tmpfs at `path`: a mount point inside another filesystem.
void mountTmpfs(const std::string& path);
// Makes one entry given in listTree's notation, "dir/", "file" (holding "x") or
// "link -> target", with its missing parents. Works at any depth.
void plantEntry(std::string_view entry);
// Every path under `root` (itself included), sorted, one per line, directories with a
// trailing "/", symbolic links as "path -> target"; "absent" when `root` does not exist.
// Works at any depth.
std::string listTree(const std::string& root);
// Runs `work` in a process of its own, beside the tool, as soon as an entry of `directory`
// is removed (after ten seconds without that, it does not run). The tool's run is over, and
// inspected, once that process has ended too.
void whenRemovedFrom(const std::string& directory, std::function<void()> work);
// Holds a POSIX write lock (fcntl) on the whole of the file `path` from a process of its
// own, as a package manager at work does, from now until the tool has ended.
void holdLockWhileToolRuns(const std::string& path);

// A listening socket of the test's own, in the fake host's network namespace.
struct FakeListener {
  // "127.0.0.1:80", "0.0.0.0:80", "[::1]:80", "[::]:80" (IPv6 only, as nginx binds it) or
  // "unix:/opt/..." (a path under a directory that the fake host masks).
  std::string address;
  enum class Serve {
    // Writes `reply` once the client has written something (at once with `speaksFirst`),
    // then waits for the client to close.
    Replies,
    // Accepts and never answers.
    Silent,
    // Accepts and closes at once.
    ClosesAtOnce,
    // Never accepts; its backlog is full from the start (a Unix socket then refuses a
    // non-blocking connect with EAGAIN).
    BacklogFull,
  } serve = Serve::Replies;
  std::string reply = "";
  bool speaksFirst = false;
};

// Brings up the loopback interface of the fake host's own network namespace, so that
// listeners there can be reached and nothing leaves it. Without root there is no such
// namespace, and the row is left out (cannotSetUp).
void bringLoopbackUp();
// Listens on every one of `listeners` from one process of its own (the main process of a
// fake service), from now until the tool has ended, and writes that process's id to
// `pidFile`. With `ownNetworkNamespace` that process listens in a network namespace of its
// own, as a service with PrivateNetwork= does.
void serveWhileToolRuns(const std::vector<FakeListener>& listeners, const std::string& pidFile,
                        bool ownNetworkNamespace = false);

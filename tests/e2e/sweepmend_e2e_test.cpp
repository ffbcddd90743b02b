#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "sandbox.h"

namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

const std::string kTool = "/opt/ovk/admin/sbin/hoststat";
const std::string kReportCall = kTool + " [df-useful] [--json]\n";

FakeHost hoststat(const std::string& script) { return {{{kTool, script}}}; }

// Prints whether the tool was given a standard input, then exits with 4 after a pause, so
// that only a sweepmend that waits for it can pass the 4 on.
const std::string kProbeStandardInput =
    "if [ -e /proc/$$/fd/0 ]; then echo 'stdin open'; else echo 'stdin closed'; fi\n"
    "sleep 0.2; exit 4";

Case check(std::string name, FakeHost host, std::string out, std::string err, int status,
           std::string calls = kReportCall, Launch launch = {}) {
  return {.name = std::move(name),
          .host = std::move(host),
          .tool = "sweepmend",
          .arguments = {"--check"},
          .out = std::move(out),
          .err = std::move(err),
          .status = status,
          .calls = std::move(calls),
          .launch = launch};
}

// Rows of a tool that ends at once, with SIGCHLD ignored by whoever started sweepmend.
std::vector<Case> startedWithSigchldIgnored(int rounds) {
  // A program, not a script: it may well have ended before sweepmend starts to wait.
  const FakeHost endsAtOnce{{}, [] {
                              fs::create_directories(fs::path(kTool).parent_path());
                              fs::create_symlink("/bin/true", kTool);
                            }};
  std::vector<Case> cases;
  for (int round = 0; round < rounds; ++round) {
    cases.push_back(check("SIGCHLD ignored, round " + std::to_string(round), endsAtOnce, "", "", 0,
                          "", {.sigchldIgnored = true}));
  }
  return cases;
}

TEST(Sweepmend, CheckWaitsWhateverSigchldItInherits) { runCases(startedWithSigchldIgnored(30)); }

TEST(Sweepmend, CheckPassesTheDiskReportThrough) {
  const FakeHost notExecutable{{}, [] {
                                 fs::create_directories(fs::path(kTool).parent_path());
                                 writeFile(kTool, "#!/bin/sh\necho ran\n", 0644);
                               }};
  runCases({
      check("every byte of the report, none of ours",
            hoststat(R"(printf '{"/":{"free":"12G"}}\n\000\377no newline'; echo warn >&2)"),
            "{\"/\":{\"free\":\"12G\"}}\n\0\xffno newline"s, "warn\n", 0),
      withJournal(check("its exit code", hoststat(answer("{}\n", "", 3)), "{}\n", "", 3),
                  journalEntry("disk-report", 7,
                               {{"MESSAGE", "disk report: hoststat exit code 3"},
                                {"HOSTMEND_EXIT_CODE", "3"}})),
      check("its exit code, no journal", hoststat(answer("{}\n", "", 3)), "{}\n", "", 3,
            kReportCall, {.withoutJournal = true}),
      check("killed", hoststat("kill -KILL $$"), "", "", 9),
      check("standard input closed for the tool", hoststat(kProbeStandardInput), "stdin closed\n",
            "", 4),
      check("started without standard input", hoststat(kProbeStandardInput), "stdin closed\n", "",
            4, kReportCall, {.stdinClosed = true}),
      check("the tool starts with no signal ignored", hoststat("grep SigIgn /proc/$$/status"),
            "SigIgn:\t0000000000000000\n", "", 0, kReportCall, {.sigchldIgnored = true}),
      // The tool starts with SIGPIPE at its default, as a shell would start it.
      check("its output to a reader that went away", hoststat(answer("{}\n")), "", "", 13,
            kReportCall, {.stdoutTo = Output::ReaderGone}),
      withJournal(check("no tool", {}, "", "execve failed: No such file or directory\n", 1, ""),
                  journalEntry("tool-failed", 3,
                               {{"MESSAGE", "execve failed: No such file or directory"},
                                {"HOSTMEND_ERROR", "execve failed: No such file or directory"}})),
      check("tool not executable", notExecutable, "", "execve failed: Permission denied\n", 1, ""),
      // As the library reports it: no child, no message, -1.
      check("no process can be created", hoststat(answer("{}")), "", "", 255, "",
            {.atProcessLimit = true}),
  });
}

// Builds files from lines in listTree's notation: "dir/", "file" or "link -> target".
std::function<void()> plant(
    std::vector<std::string> entries, std::function<void()> then = [] {}) {
  return [entries = std::move(entries), then = std::move(then)] {
    for (const std::string& entry : entries) plantEntry(entry);
    then();
  };
}

// The files prefix0 to prefix<count - 1>.
std::vector<std::string> numbered(const std::string& prefix, int count) {
  std::vector<std::string> entries;
  for (int i = 0; i < count; ++i) entries.push_back(prefix + std::to_string(i));
  return entries;
}

// Those files made after `first` and before `last`: whatever order a directory lists its
// entries in, one of the two comes before the files.
std::vector<std::string> between(const std::string& first, const std::string& prefix, int count,
                                 const std::string& last) {
  std::vector<std::string> entries = numbered(prefix, count);
  entries.insert(entries.begin(), first);
  entries.push_back(last);
  return entries;
}

std::string everything() {
  return listTree("/opt") + listTree("/root") + listTree("/usr/local") + listTree("/var/cache");
}

Case repair(std::string name, std::function<void()> prepare, std::string out, std::string after,
            std::string err = "", Launch launch = {}) {
  return {.name = std::move(name),
          .host = {{}, std::move(prepare), everything},
          .tool = "sweepmend",
          .arguments = {"--repair"},
          .out = std::move(out),
          .err = std::move(err),
          .after = std::move(after),
          .launch = std::move(launch)};
}

const std::string kBareHost = "/opt/\n/root/\n/usr/local/\n/var/cache/\n";
const std::string kTmp = "/usr/local/ovk/tmp/";
// What a cleaned temporary directory leaves: the directory, and no longer anything else.
const std::string kBareTmp =
    "/opt/\n/root/\n/usr/local/\n/usr/local/ovk/\n" + kTmp + "\n/var/cache/\n";

// The entry of a location the cleanup went through.
std::string cleaned(const std::string& location, int entries, long bytes) {
  const std::string counts =
      std::to_string(entries) + " entries removed, " + std::to_string(bytes) + " bytes freed";
  return journalEntry("location-cleaned", 6,
                      {{"MESSAGE", "cleaned " + location + ": " + counts},
                       {"HOSTMEND_ACTION", "remove"},
                       {"HOSTMEND_PATH", location},
                       {"HOSTMEND_ENTRIES_REMOVED", std::to_string(entries)},
                       {"HOSTMEND_BYTES_FREED", std::to_string(bytes)}});
}

std::string finished(int entries, long bytes, int left) {
  return journalEntry("cleanup-finished", 6,
                      {{"MESSAGE", "cleanup finished: " + std::to_string(entries) +
                                       " entries removed, " + std::to_string(bytes) +
                                       " bytes freed, " + std::to_string(left) + " matches left"},
                       {"HOSTMEND_ACTION", "remove"},
                       {"HOSTMEND_ENTRIES_REMOVED", std::to_string(entries)},
                       {"HOSTMEND_BYTES_FREED", std::to_string(bytes)}});
}

// A match left.
std::string left(const std::string& match, const std::string& reason) {
  return journalEntry("match-left", 4,
                      {{"MESSAGE", "left " + match + ": " + reason},
                       {"HOSTMEND_ACTION", "remove"},
                       {"HOSTMEND_PATH", match},
                       {"HOSTMEND_ERROR", reason}});
}

// 150 temporary entries that cannot go: the first 100 are recorded one by one, then how
// many more there were. A name that is not UTF-8 travels as it is.
Case readOnlyTemporaryDirectory() {
  const std::string reason = "Read-only file system";
  std::vector<std::string> files = {kTmp + "caf\xe9"};
  for (int i = 100; i < 249; ++i) files.push_back(kTmp + "f" + std::to_string(i));
  std::string journal = cleaned("/root/veltrosin", 0, 0) +
                        cleaned("/var/cache/veltrosin_installer", 0, 0) + left(files[0], reason);
  for (int i = 1; i < 100; ++i) journal += left(files[i], reason);
  journal += cleaned("/usr/local/ovk/tmp", 0, 0) + cleaned("/var/cache/apt", 0, 0) +
             cleaned("/var/cache/yum", 0, 0) +
             journalEntry("match-left", 4,
                          {{"MESSAGE", "50 more matches left, not recorded one by one"},
                           {"HOSTMEND_ACTION", "remove"}}) +
             finished(0, 0, 150);
  std::string err;
  for (size_t i = 0; i < files.size(); ++i) err += reason + "\n";
  return withJournal({.name = "150 temporary entries left: 100 recorded, then their number",
                      .host = {{}, plant(files, [] { mountReadOnly(kTmp); })},
                      .tool = "sweepmend",
                      .arguments = {"--repair"},
                      .out = "null\n",
                      .err = err},
                     journal);
}

// On tmpfs a file holds whole pages and a directory none.
Case bytesFreed() {
  const auto prepare = [] {
    for (const char* entry :
         {"/var/cache/kept", "/var/cache/apt/a", "/usr/local/ovk/tmp/t", "/usr/local/ovk/tmp/d/f",
          "/var/cache/apt/empty", "/var/cache/yum/big"}) {
      plantEntry(entry);
    }
    writeFile("/var/cache/apt/empty", "");
    writeFile("/var/cache/yum/big", std::string(10000, 'x'));
    // A second link inside counts its file once; a link outside keeps it in use.
    if (::link("/var/cache/apt/a", "/var/cache/apt/b") != 0 ||
        ::link("/var/cache/kept", "/var/cache/apt/c") != 0) {
      throw std::runtime_error("link");
    }
  };
  return withJournal(
      repair("entries removed and bytes freed: each inode once, none for one linked outside",
             prepare,
             R"({"clean_paths":["/usr/local/ovk/tmp/d/","/usr/local/ovk/tmp/t",)"
             R"("/var/cache/apt/","/var/cache/yum/"]})"
             "\n",
             "/opt/\n/root/\n/usr/local/\n/usr/local/ovk/\n" + kTmp +
                 "\n/var/cache/\n/var/cache/kept\n"),
      cleaned("/root/veltrosin", 0, 0) + cleaned("/var/cache/veltrosin_installer", 0, 0) +
          cleaned("/usr/local/ovk/tmp", 3, 8192) + cleaned("/var/cache/apt", 5, 4096) +
          cleaned("/var/cache/yum", 2, 12288) + finished(10, 24576, 0));
}

TEST(Sweepmend, RepairRemovesTheCleanupList) {
  runCases({
      readOnlyTemporaryDirectory(),
      bytesFreed(),
      repair("nothing present", plant({}), "null\n", kBareHost),
      repair("a listed directory goes itself, not only its contents",
             plant({"/var/cache/apt/archives/partial/a.deb", "/var/cache/apt/pkgcache.bin",
                    "/var/cache/debconf/config.dat"}),
             R"({"clean_paths":["/var/cache/apt/"]})"
             "\n",
             "/opt/\n/root/\n/usr/local/\n/var/cache/\n/var/cache/debconf/\n"
             "/var/cache/debconf/config.dat\n"),
      repair("dot names and the temporary directory itself stay",
             plant({kTmp + "a.log", kTmp + "sess/s1", kTmp + ".keep", kTmp + ".cache/c"}),
             R"({"clean_paths":["/usr/local/ovk/tmp/a.log","/usr/local/ovk/tmp/sess/"]})"
             "\n",
             "/opt/\n/root/\n/usr/local/\n/usr/local/ovk/\n/usr/local/ovk/tmp/\n"
             "/usr/local/ovk/tmp/.cache/\n/usr/local/ovk/tmp/.cache/c\n/usr/local/ovk/tmp/.keep\n"
             "/var/cache/\n"),
      repair("report in table order, entries in byte order",
             plant({"/var/cache/yum/x", "/var/cache/apt/x", kTmp + "a", kTmp + "_z/", kTmp + "B",
                    "/var/cache/veltrosin_installer/x", "/root/veltrosin/x"}),
             R"({"clean_paths":["/root/veltrosin/","/var/cache/veltrosin_installer/",)"
             R"("/usr/local/ovk/tmp/B","/usr/local/ovk/tmp/_z/","/usr/local/ovk/tmp/a",)"
             R"("/var/cache/apt/","/var/cache/yum/"]})"
             "\n",
             kBareTmp),
      repair("a read-only location fails alone",
             plant({kTmp + "a.log", kTmp + "z.log", "/var/cache/apt/x", "/var/cache/yum/kept"},
                   [] { mountReadOnly("/var/cache/yum"); }),
             R"({"clean_paths":["/usr/local/ovk/tmp/a.log","/usr/local/ovk/tmp/z.log",)"
             R"("/var/cache/apt/"]})"
             "\n",
             "/opt/\n/root/\n/usr/local/\n/usr/local/ovk/\n/usr/local/ovk/tmp/\n/var/cache/\n"
             "/var/cache/yum/\n/var/cache/yum/kept\n",
             "Read-only file system\n"),
      repair("read-only mounts among 200 files: not entered, every file goes, the failure is told",
             plant(between("/var/cache/apt/early/kept", "/var/cache/apt/f", 200,
                           "/var/cache/apt/late/kept"),
                   [] {
                     mountReadOnly("/var/cache/apt/early");
                     mountReadOnly("/var/cache/apt/late");
                   }),
             "null\n",
             "/opt/\n/root/\n/usr/local/\n/var/cache/\n/var/cache/apt/\n/var/cache/apt/early/\n"
             "/var/cache/apt/early/kept\n/var/cache/apt/late/\n/var/cache/apt/late/kept\n",
             "Device or resource busy\n"),
      repair(
          "mount points among 100 files: not entered, every file goes",
          plant(between("/var/cache/apt/early/", "/var/cache/apt/f", 100, "/var/cache/apt/late/"),
                [] {
                  for (const std::string point : {"/var/cache/apt/early", "/var/cache/apt/late"}) {
                    mountTmpfs(point);
                    writeFile(point + "/a.deb", "x");
                  }
                }),
          "null\n",
          "/opt/\n/root/\n/usr/local/\n/var/cache/\n/var/cache/apt/\n/var/cache/apt/early/\n"
          "/var/cache/apt/early/a.deb\n/var/cache/apt/late/\n/var/cache/apt/late/a.deb\n",
          "Device or resource busy\n"),
      repair("entries that vanish meanwhile count as removed",
             plant(numbered(kTmp + "sess/s", 20000),
                   [] {
                     // Another cleaner takes every tenth file.
                     whenRemovedFrom(kTmp + "sess", [] {
                       for (int i = 0; i < 20000; i += 10)
                         ::unlink((kTmp + "sess/s" + std::to_string(i)).c_str());
                     });
                   }),
             R"({"clean_paths":["/usr/local/ovk/tmp/sess/"]})"
             "\n",
             kBareTmp),
      repair("a mount point inside is not entered",
             plant({"/var/cache/apt/archives/"},
                   [] {
                     mountTmpfs("/var/cache/apt/archives");
                     writeFile("/var/cache/apt/archives/a.deb", "x");
                   }),
             "null\n",
             "/opt/\n/root/\n/usr/local/\n/var/cache/\n/var/cache/apt/\n"
             "/var/cache/apt/archives/\n/var/cache/apt/archives/a.deb\n",
             "Device or resource busy\n"),
      repair("apt at work: its cache stays while another process holds apt's lock",
             plant({"/var/cache/apt/archives/lock", "/var/cache/apt/archives/partial/a.deb",
                    "/var/cache/yum/x"},
                   [] { holdLockWhileToolRuns("/var/cache/apt/archives/lock"); }),
             R"({"clean_paths":["/var/cache/yum/"]})"
             "\n",
             "/opt/\n/root/\n/usr/local/\n/var/cache/\n/var/cache/apt/\n"
             "/var/cache/apt/archives/\n/var/cache/apt/archives/lock\n"
             "/var/cache/apt/archives/partial/\n/var/cache/apt/archives/partial/a.deb\n",
             "Resource temporarily unavailable\n"),
      repair("apt's lock is held while its cache goes, and its file goes last",
             // Made last, the lock file is listed first on tmpfs.
             plant(between("/var/cache/apt/lists/x", "/var/cache/apt/archives/p", 20000,
                           "/var/cache/apt/archives/lock"),
                   [] {
                     // An apt starting meanwhile must find the lock there and held.
                     whenRemovedFrom("/var/cache/apt/archives", [] {
                       struct flock probe {};
                       probe.l_type = F_WRLCK;
                       const int fd = ::open("/var/cache/apt/archives/lock", O_RDWR);
                       if (fd < 0 || ::fcntl(fd, F_GETLK, &probe) != 0 || probe.l_type == F_UNLCK) {
                         writeFile("/opt/unguarded", "");
                       }
                     });
                   }),
             R"({"clean_paths":["/var/cache/apt/"]})"
             "\n",
             kBareHost),
      {.name = "entries of unknown type: a directory under an append-only one is still emptied",
       .host = {{},
                [] {
                  mountExt4WithoutEntryTypes("/var/cache");
                  plantEntry("/var/cache/apt/kept/sub/f");
                  makeAppendOnly("/var/cache/apt/kept");
                },
                [] { return listTree("/var/cache"); }},
       .tool = "sweepmend",
       .arguments = {"--repair"},
       .out = "null\n",
       .err = "Operation not permitted\n",
       .after = "/var/cache/\n/var/cache/apt/\n/var/cache/apt/kept/\n/var/cache/apt/kept/sub/\n"
                "/var/cache/lost+found/\n"},
  });
}

// Targets outside the listed locations, which must survive every cleanup.
const std::vector<std::string> kOutside = {"/opt/outside/keep", "/opt/outside/sub/keep"};
const std::string kOutsideLeft =
    "/opt/\n/opt/outside/\n/opt/outside/keep\n/opt/outside/sub/\n/opt/outside/sub/keep\n";

std::vector<std::string> with(std::vector<std::string> entries) {
  entries.insert(entries.end(), kOutside.begin(), kOutside.end());
  return entries;
}

// A link to the outside at the bottom of /var/cache/apt, 3,000 directories down: its path
// is longer than PATH_MAX, and a walk with a descriptor per level runs out of them.
const std::string kDeepLink = [] {
  std::string path = "/var/cache/apt/";
  for (int level = 0; level < 3000; ++level) path += "d/";
  return path + "bottom -> /opt/outside";
}();
// The working directory cannot be opened, so "." cannot be used to come back to it.
const std::string kClosedDirectory = "/root/closed";

TEST(Sweepmend, RepairNeverFollowsALink) {
  runCases({
      repair("a listed location that is a link to a directory",
             plant(with({"/root/veltrosin -> /opt/outside", "/var/cache/yum -> /opt/outside/sub"})),
             R"({"clean_paths":["/root/veltrosin/","/var/cache/yum/"]})"
             "\n",
             kOutsideLeft + "/root/\n/usr/local/\n/var/cache/\n"),
      repair("links among the temporary entries",
             plant(with({kTmp + "dir -> /opt/outside", kTmp + "file -> /opt/outside/keep",
                         kTmp + "dangling -> /opt/none", kTmp + "up -> .."})),
             R"({"clean_paths":["/usr/local/ovk/tmp/dangling","/usr/local/ovk/tmp/dir/",)"
             R"("/usr/local/ovk/tmp/file","/usr/local/ovk/tmp/up/"]})"
             "\n",
             kOutsideLeft + "/root/\n/usr/local/\n/usr/local/ovk/\n" + kTmp + "\n/var/cache/\n"),
      repair("a link at the bottom of a tree deeper than PATH_MAX, few descriptors",
             plant(with({kDeepLink})),
             R"({"clean_paths":["/var/cache/apt/"]})"
             "\n",
             kOutsideLeft + "/root/\n/usr/local/\n/var/cache/\n", "", {.descriptorLimit = 1024}),
      repair("the same from a working directory that cannot be opened",
             plant(with({kDeepLink, kClosedDirectory + "/"}),
                   [] { fs::permissions(kClosedDirectory, fs::perms::owner_exec); }),
             R"({"clean_paths":["/var/cache/apt/"]})"
             "\n",
             kOutsideLeft + "/root/\n/root/closed/\n/usr/local/\n/var/cache/\n", "",
             {.withoutCapabilities = true,
              .descriptorLimit = 1024,
              .workingDirectory = kClosedDirectory}),
      repair("a directory moved out of the match meanwhile is not followed out",
             plant(numbered("/var/cache/apt/a/b/c/f", 20000),
                   [] {
                     whenRemovedFrom("/var/cache/apt/a/b/c",
                                     [] { fs::rename("/var/cache/apt/a/b", "/var/cache/moved"); });
                   }),
             R"({"clean_paths":["/var/cache/apt/"]})"
             "\n",
             "/opt/\n/root/\n/usr/local/\n/var/cache/\n/var/cache/moved/\n"),
      repair("a directory of the same filesystem bind-mounted below a location: its source stays",
             plant({"/var/cache/debconf/config.dat", "/var/cache/apt/chroot/srv/",
                    "/var/cache/apt/chroot/etc/passwd"},
                   [] { bindMount("/var/cache/debconf", "/var/cache/apt/chroot/srv"); }),
             "null\n",
             "/opt/\n/root/\n/usr/local/\n/var/cache/\n/var/cache/apt/\n/var/cache/apt/chroot/\n"
             "/var/cache/apt/chroot/srv/\n/var/cache/apt/chroot/srv/config.dat\n"
             "/var/cache/debconf/\n/var/cache/debconf/config.dat\n",
             "Device or resource busy\n"),
      repair("a temporary entry bind-mounted from elsewhere stays whole",
             plant(with({kTmp + "a.log", kTmp + "backup/"}),
                   [] { bindMount("/opt/outside", kTmp + "backup"); }),
             R"({"clean_paths":["/usr/local/ovk/tmp/a.log"]})"
             "\n",
             kOutsideLeft + "/root/\n/usr/local/\n/usr/local/ovk/\n" + kTmp + "\n" + kTmp +
                 "backup/\n" + kTmp + "backup/keep\n" + kTmp + "backup/sub/\n" + kTmp +
                 "backup/sub/keep\n/var/cache/\n",
             "Device or resource busy\n"),
      repair("links at depth inside a listed directory",
             plant(with({"/var/cache/apt/archives/dir -> /opt/outside",
                         "/var/cache/apt/archives/file -> /opt/outside/keep",
                         "/var/cache/apt/lists/up -> ../../apt"})),
             R"({"clean_paths":["/var/cache/apt/"]})"
             "\n",
             kOutsideLeft + "/root/\n/usr/local/\n/var/cache/\n"),
      repair("the temporary directory moved elsewhere behind a link is cleaned there",
             plant({kTmp.substr(0, kTmp.size() - 1) + " -> /opt/moved", "/opt/moved/a.log",
                    "/opt/moved/sess/s1", "/opt/moved/.keep"}),
             R"({"clean_paths":["/usr/local/ovk/tmp/a.log","/usr/local/ovk/tmp/sess/"]})"
             "\n",
             "/opt/\n/opt/moved/\n/opt/moved/.keep\n/root/\n/usr/local/\n/usr/local/ovk/\n"
             "/usr/local/ovk/tmp -> /opt/moved\n/var/cache/\n"),
  });
}

TEST(Sweepmend, RepairReportIsOneValidJsonLine) {
  runCases({
      repair("names that need escaping or are not UTF-8",
             plant({kTmp + "say \"hi\"", kTmp + "line\nbreak", kTmp + "back\\slash",
                    kTmp + "caf\xe9", kTmp + "tab\t", kTmp + "caf\xc3\xa9 ok"}),
             "{\"clean_paths\":[\"/usr/local/ovk/tmp/back\\\\slash\","
             "\"/usr/local/ovk/tmp/caf\xc3\xa9 ok\",\"/usr/local/ovk/tmp/caf\xef\xbf\xbd\","
             "\"/usr/local/ovk/tmp/line\\nbreak\",\"/usr/local/ovk/tmp/say \\\"hi\\\"\","
             "\"/usr/local/ovk/tmp/tab\\t\"]}\n",
             kBareTmp),
      repair("diagnostics to a reader that went away: the later locations are still cleaned",
             plant({"/root/veltrosin/kept", "/var/cache/apt/x", "/var/cache/yum/x"},
                   [] { mountReadOnly("/root/veltrosin"); }),
             R"({"clean_paths":["/var/cache/apt/","/var/cache/yum/"]})"
             "\n",
             "/opt/\n/root/\n/root/veltrosin/\n/root/veltrosin/kept\n/usr/local/\n/var/cache/\n",
             "", {.stderrTo = Output::ReaderGone}),
      {.name = "report into a full disk: removed, but the failure is told",
       .host = {{}, plant({"/var/cache/apt/x"}), everything},
       .tool = "sweepmend",
       .arguments = {"--repair"},
       .out = "",
       .err = "write error: No space left on device\n",
       .status = 1,
       .after = kBareHost,
       .launch = {.stdoutTo = Output::Full}},
  });
}

}  // namespace

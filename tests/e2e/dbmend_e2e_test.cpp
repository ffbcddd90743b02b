// dbmend: which database unit it finds on the host, and what it does with it.
#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "sandbox.h"

namespace fs = std::filesystem;

namespace {

const std::string kUsage = "Usage: dbmend [--check|--repair]\n";
const std::string kNoDatabase = "Failed to detect mysql unit name\n";

std::string unitFile(const std::string& base) { return "/lib/systemd/system/" + base + ".service"; }
std::string initScript(const std::string& base) { return "/etc/init.d/" + base; }

// What lies at a path. A probe that reaches a Loop fails, so a Loop also shows that a
// place is never looked at.
enum class Entry { File, Directory, LinkToFile, DanglingLink, Loop, Pipe, Locked };

struct Placed {
  std::string path;
  Entry entry;
};

void place(const Placed& placed) {
  const fs::path path = placed.path;
  switch (placed.entry) {
    case Entry::File:  // not executable: only the file type counts
      writeFile(path, "", 0644);
      break;
    case Entry::Directory:
      fs::create_directory(path);
      break;
    case Entry::LinkToFile:
      writeFile("/opt/db/target", "");
      fs::create_symlink("/opt/db/target", path);
      break;
    case Entry::DanglingLink:
      fs::create_symlink("/opt/db/missing", path);
      break;
    case Entry::Loop:
      fs::create_symlink(path.filename(), path);
      break;
    case Entry::Pipe:
      if (::mkfifo(path.c_str(), 0644) != 0) throw std::runtime_error("mkfifo " + path.string());
      break;
    case Entry::Locked:  // a directory that only capabilities let one search
      fs::permissions(path, fs::perms::none);
      break;
  }
}

// A host with `placed` set up in order and a systemctl that runs `systemctl`.
FakeHost host(std::vector<Placed> placed, const std::string& systemctl = answer("")) {
  return {{{"/bin/systemctl", systemctl}}, [placed] {
            fs::create_directories("/opt/db");
            for (const auto& p : placed) place(p);
          }};
}

std::string call(const std::string& action, const std::string& unit) {
  return "/bin/systemctl [" + action + "] [" + unit + "]\n";
}

std::string report(const std::string& unit, const std::string& message = "",
                   const std::string& status = "running") {
  return R"({"message":")" + message + R"(","name":")" + unit + R"(","status":")" + status +
         "\"}\n";
}

// Every row runs --check; the unit found is the one whose status is asked for.
Case detects(const std::string& name, std::vector<Placed> placed, const std::string& unit) {
  return {name, host(std::move(placed)), "dbmend", {"--check"}, report(unit), "",
          0,    call("status", unit)};
}

Case findsNothing(const std::string& name, std::vector<Placed> placed) {
  return {name, host(std::move(placed)), "dbmend", {"--check"}, "", kNoDatabase, 1};
}

TEST(Dbmend, DetectsTheUnitInProbeOrder) {
  using enum Entry;
  runCases({
      detects("mariadb unit file; the later places are not looked at",
              {{unitFile("mariadb"), File},
               {initScript("mariadb"), Loop},
               {unitFile("mysql"), Loop},
               {initScript("mysql"), Loop},
               {unitFile("mysqld"), Loop},
               {initScript("mysqld"), Loop}},
              "mariadb.service"),
      detects("init script of an earlier name beats a unit file of a later one",
              {{initScript("mariadb"), File}, {unitFile("mysql"), Loop}}, "mariadb.service"),
      detects("mysql unit file before its init script",
              {{unitFile("mysql"), File}, {initScript("mysql"), Loop}}, "mysql.service"),
      detects("mysql init script only", {{initScript("mysql"), File}, {unitFile("mysqld"), Loop}},
              "mysql.service"),
      detects("mysqld unit file only", {{unitFile("mysqld"), File}}, "mysqld.service"),
      detects("mysqld init script: all six places", {{initScript("mysqld"), File}},
              "mysqld.service"),
      detects("a link to a file counts", {{initScript("mysql"), LinkToFile}}, "mysql.service"),
      detects("directories, dangling links and pipes are passed over",
              {{unitFile("mariadb"), Directory},
               {initScript("mariadb"), DanglingLink},
               {unitFile("mysql"), Pipe},
               {initScript("mysql"), Directory},
               {unitFile("mysqld"), DanglingLink},
               {initScript("mysqld"), File}},
              "mysqld.service"),
      findsNothing("only things that are not regular files", {{unitFile("mariadb"), Pipe},
                                                              {unitFile("mysql"), Directory},
                                                              {initScript("mysql"), DanglingLink},
                                                              {initScript("mysqld"), Directory}}),
      findsNothing("names of the other place's form",
                   {{"/lib/systemd/system/mariadb", File},
                    {"/etc/init.d/mysql.service", File},
                    {"/lib/systemd/system/MySQL.service", File},
                    {"/lib/systemd/system/mysqld.service.d", Directory},
                    {"/lib/systemd/system/mysqld.service.d/override.conf", File}}),
  });
}

// dbmend run with `arguments` on `fakeHost`.
Case dbmend(const std::string& name, FakeHost fakeHost, const std::vector<std::string>& arguments,
            const std::string& out, const std::string& err, int status,
            const std::string& calls = "", Launch launch = {}) {
  return {name, std::move(fakeHost), "dbmend", arguments, out, err, status, calls, "", launch};
}

TEST(Dbmend, ActsOnTheDetectedUnit) {
  const std::vector<Placed> mysql = {{initScript("mysql"), Entry::File}};
  const std::vector<Placed> none = {};
  runCases({
      withJournal(dbmend("repair", host(mysql), {"--repair", "--check"}, report("mysql.service"),
                         "", 0, call("restart", "mysql.service")),
                  serviceActionEntry("restart", "mysql.service", "mysql.service", 0, "running", 6)),
      dbmend("check while stopped", host(mysql, answer("inactive\n", "", 3)), {"--check"},
             report("mysql.service", R"(inactive\n\nFinished with exit code 3)", "stopped"), "", 0,
             call("status", "mysql.service")),
      dbmend("repair that fails", host(mysql, answer("", "Job failed.\n", 1)), {"--repair"},
             report("mysql.service", R"(\nJob failed.\n\nFinished with exit code 1)", "stopped"),
             "", 0, call("restart", "mysql.service")),
      dbmend("repair started with SIGCHLD ignored", host(mysql), {"--repair"},
             report("mysql.service"), "", 0, call("restart", "mysql.service"),
             {.sigchldIgnored = true}),
      withJournal(dbmend("repair without a database", host(none), {"--repair"}, "", kNoDatabase, 1),
                  journalEntry("no-database", 4,
                               {{"MESSAGE",
                                 "no database unit: no mariadb, mysql or mysqld service "
                                 "installed"}})),
      dbmend("repair without a database or a journal", host(none), {"--repair"}, "", kNoDatabase, 1,
             "", {.withoutJournal = true}),
      dbmend("unknown word with a database", host(mysql), {"--status"}, "",
             "Unknown command: --status\n" + kUsage, 2),
      dbmend("empty word with a database", host(mysql), {""}, "", "Unknown command: \n" + kUsage,
             2),
      dbmend("unknown word without a database", host(none), {"--status"}, "", kNoDatabase, 1),
      dbmend("help without a database", host(none), {"-h"}, kUsage, "", 0),
  });
}

TEST(Dbmend, EndsInOrderWhenAPlaceCannotBeExamined) {
  using enum Entry;
  const Launch noCapabilities{.withoutCapabilities = true};
  const std::string loop =
      "filesystem error: status: Too many levels of symbolic links "
      "[/lib/systemd/system/mariadb.service]\n";
  runCases({
      withJournal(dbmend("a loop of links",
                         host({{unitFile("mariadb"), Loop}, {initScript("mysql"), File}}),
                         {"--check"}, "", loop, 1),
                  journalEntry("tool-failed", 3,
                               {{"MESSAGE", loop.substr(0, loop.size() - 1)},
                                {"HOSTMEND_ERROR", loop.substr(0, loop.size() - 1)}})),
      dbmend("a loop of links, unknown word", host({{unitFile("mariadb"), Loop}}), {"--x"}, "",
             loop, 1),
      dbmend("unit directory that cannot be searched", host({{"/lib/systemd/system", Locked}}),
             {"--check"}, "",
             "filesystem error: status: Permission denied "
             "[/lib/systemd/system/mariadb.service]\n",
             1, "", noCapabilities),
      dbmend("init.d that cannot be searched, after a miss",
             host({{unitFile("mysql"), File}, {"/etc/init.d", Locked}}), {"--repair"}, "",
             "filesystem error: status: Permission denied [/etc/init.d/mariadb]\n", 1, "",
             noCapabilities),
      dbmend("init.d that cannot be searched, after a match",
             host({{unitFile("mariadb"), File}, {"/etc/init.d", Locked}}), {"--repair"},
             report("mariadb.service"), "", 0, call("restart", "mariadb.service"), noCapabilities),
      dbmend("help looks at nothing", host({{"/lib/systemd/system", Locked}}), {"--help"}, kUsage,
             "", 0, "", noCapabilities),
      dbmend("no systemctl", {{}, [] { writeFile(unitFile("mariadb"), ""); }}, {"--check"}, "",
             "execve failed: No such file or directory\n", 1),
      dbmend("no process can be created", host({{unitFile("mariadb"), File}}), {"--check"}, "",
             "fork failed: Resource temporarily unavailable\n", 1, "", {.atProcessLimit = true}),
      dbmend("report into a full disk", host({{unitFile("mariadb"), File}}), {"--check"}, "",
             "write error: No space left on device\n", 1, call("status", "mariadb.service"),
             {.stdoutTo = Output::Full}),
  });
}

}  // namespace

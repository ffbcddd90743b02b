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
  return {.name = name,
          .host = host(std::move(placed)),
          .tool = "dbmend",
          .arguments = {"--check"},
          .out = report(unit),
          .calls = call("status", unit)};
}

Case findsNothing(const std::string& name, std::vector<Placed> placed) {
  return {.name = name,
          .host = host(std::move(placed)),
          .tool = "dbmend",
          .arguments = {"--check"},
          .out = "",
          .err = kNoDatabase,
          .status = 1};
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

TEST(Dbmend, ActsOnTheDetectedUnit) {
  const std::vector<Placed> mysql = {{initScript("mysql"), Entry::File}};
  const std::vector<Placed> none = {};
  runCases({
      withJournal({.name = "repair",
                   .host = host(mysql),
                   .tool = "dbmend",
                   .arguments = {"--repair", "--check"},
                   .out = report("mysql.service"),
                   .calls = call("restart", "mysql.service")},
                  serviceActionEntry("restart", "mysql.service", "mysql.service", 0, "running", 6)),
      {.name = "check while stopped",
       .host = host(mysql, answer("inactive\n", "", 3)),
       .tool = "dbmend",
       .arguments = {"--check"},
       .out = report("mysql.service", R"(inactive\n\nFinished with exit code 3)", "stopped"),
       .calls = call("status", "mysql.service")},
      {.name = "repair that fails",
       .host = host(mysql, answer("", "Job failed.\n", 1)),
       .tool = "dbmend",
       .arguments = {"--repair"},
       .out = report("mysql.service", R"(\nJob failed.\n\nFinished with exit code 1)", "stopped"),
       .calls = call("restart", "mysql.service")},
      {.name = "repair started with SIGCHLD ignored",
       .host = host(mysql),
       .tool = "dbmend",
       .arguments = {"--repair"},
       .out = report("mysql.service"),
       .calls = call("restart", "mysql.service"),
       .launch = {.sigchldIgnored = true}},
      withJournal({.name = "repair without a database",
                   .host = host(none),
                   .tool = "dbmend",
                   .arguments = {"--repair"},
                   .out = "",
                   .err = kNoDatabase,
                   .status = 1},
                  journalEntry("no-database", 4,
                               {{"MESSAGE",
                                 "no database unit: no mariadb, mysql or mysqld service "
                                 "installed"}})),
      {.name = "repair without a database or a journal",
       .host = host(none),
       .tool = "dbmend",
       .arguments = {"--repair"},
       .out = "",
       .err = kNoDatabase,
       .status = 1,
       .launch = {.withoutJournal = true}},
      {.name = "unknown word with a database",
       .host = host(mysql),
       .tool = "dbmend",
       .arguments = {"--status"},
       .out = "",
       .err = "Unknown command: --status\n" + kUsage,
       .status = 2},
      {.name = "empty word with a database",
       .host = host(mysql),
       .tool = "dbmend",
       .arguments = {""},
       .out = "",
       .err = "Unknown command: \n" + kUsage,
       .status = 2},
      {.name = "unknown word without a database",
       .host = host(none),
       .tool = "dbmend",
       .arguments = {"--status"},
       .out = "",
       .err = kNoDatabase,
       .status = 1},
      {.name = "help without a database",
       .host = host(none),
       .tool = "dbmend",
       .arguments = {"-h"},
       .out = kUsage},
  });
}

TEST(Dbmend, EndsInOrderWhenAPlaceCannotBeExamined) {
  using enum Entry;
  const Launch noCapabilities{.withoutCapabilities = true};
  const std::string loop =
      "filesystem error: status: Too many levels of symbolic links "
      "[/lib/systemd/system/mariadb.service]\n";
  runCases({
      withJournal({.name = "a loop of links",
                   .host = host({{unitFile("mariadb"), Loop}, {initScript("mysql"), File}}),
                   .tool = "dbmend",
                   .arguments = {"--check"},
                   .out = "",
                   .err = loop,
                   .status = 1},
                  journalEntry("tool-failed", 3,
                               {{"MESSAGE", loop.substr(0, loop.size() - 1)},
                                {"HOSTMEND_ERROR", loop.substr(0, loop.size() - 1)}})),
      {.name = "a loop of links, unknown word",
       .host = host({{unitFile("mariadb"), Loop}}),
       .tool = "dbmend",
       .arguments = {"--x"},
       .out = "",
       .err = loop,
       .status = 1},
      {.name = "unit directory that cannot be searched",
       .host = host({{"/lib/systemd/system", Locked}}),
       .tool = "dbmend",
       .arguments = {"--check"},
       .out = "",
       .err = "filesystem error: status: Permission denied "
              "[/lib/systemd/system/mariadb.service]\n",
       .status = 1,
       .launch = noCapabilities},
      {.name = "init.d that cannot be searched, after a miss",
       .host = host({{unitFile("mysql"), File}, {"/etc/init.d", Locked}}),
       .tool = "dbmend",
       .arguments = {"--repair"},
       .out = "",
       .err = "filesystem error: status: Permission denied [/etc/init.d/mariadb]\n",
       .status = 1,
       .launch = noCapabilities},
      {.name = "init.d that cannot be searched, after a match",
       .host = host({{unitFile("mariadb"), File}, {"/etc/init.d", Locked}}),
       .tool = "dbmend",
       .arguments = {"--repair"},
       .out = report("mariadb.service"),
       .calls = call("restart", "mariadb.service"),
       .launch = noCapabilities},
      {.name = "help looks at nothing",
       .host = host({{"/lib/systemd/system", Locked}}),
       .tool = "dbmend",
       .arguments = {"--help"},
       .out = kUsage,
       .launch = noCapabilities},
      {.name = "no systemctl",
       .host = {{}, [] { writeFile(unitFile("mariadb"), ""); }},
       .tool = "dbmend",
       .arguments = {"--check"},
       .out = "",
       .err = "execve failed: No such file or directory\n",
       .status = 1},
      {.name = "no process can be created",
       .host = host({{unitFile("mariadb"), File}}),
       .tool = "dbmend",
       .arguments = {"--check"},
       .out = "",
       .err = "fork failed: Resource temporarily unavailable\n",
       .status = 1,
       .launch = {.atProcessLimit = true}},
      {.name = "report into a full disk",
       .host = host({{unitFile("mariadb"), File}}),
       .tool = "dbmend",
       .arguments = {"--check"},
       .out = "",
       .err = "write error: No space left on device\n",
       .status = 1,
       .calls = call("status", "mariadb.service"),
       .launch = {.stdoutTo = Output::Full}},
  });
}

}  // namespace

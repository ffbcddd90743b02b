// hostmend: the state of the whole hosting stack from one systemctl call, and the start of
// units of that stack.
#include <gtest/gtest.h>

#include "sandbox.h"

namespace {

const char kRegistry[] = "/opt/ovk/admin/sbin/interpbook";
const std::string kRegistryCall = std::string(kRegistry) + " [--list-json]\n";
const std::string kUsage = "Usage: hostmend [status [--json]|start UNIT...]\n";
const std::string kSince = "Wed 2026-12-09 02:00:00 UTC";
const std::string kInvocation = "5f2a0c3e9d2b4c61a6f0e4b8d1c7a935";
const std::string kOutside = "Not started: not a unit of this server's hosting stack";

// One unit as the fake systemctl shows it.
struct Unit {
  std::string role;
  std::string name;
  std::string active = "active";
  std::string sub = "running";
  std::string enabled = "enabled";
  std::string load = "loaded";
  std::string refused = "";
};

bool running(const Unit& unit) { return unit.active == "active"; }

// A block as systemctl show prints it, in its own order of the properties.
std::string block(const Unit& unit) {
  return "MainPID=" + std::string(running(unit) ? "4242" : "0") +
         "\nNRestarts=" + (unit.active == "failed" ? "2" : "0") +
         "\nInvocationID=" + (unit.active == "inactive" ? "" : kInvocation) +
         "\nLoadState=" + unit.load + "\nActiveState=" + unit.active + "\nSubState=" + unit.sub +
         "\nActiveEnterTimestamp=" + (unit.load == "loaded" ? kSince : "") +
         "\nUnitFileState=" + unit.enabled + "\n";
}

// A systemctl whose show gives the block of each unit named, as `units` describe them, and
// whose other actions succeed silently.
std::string systemctl(const std::vector<Unit>& units) {
  std::string script =
      "[ \"$1\" = show ] || exit 0\nshift 4\nsep=\nfor u; do\nprintf \"$sep\"\n"
      "sep='\\n'\ncase \"$u\" in\n";
  for (const auto& unit : units) {
    script += shellQuote(unit.name) + ") printf %s " + shellQuote(block(unit)) + ";;\n";
  }
  return script + "esac\ndone\n";
}

const std::string kShow =
    "/bin/systemctl [show] [--timestamp=utc] "
    "[--property=LoadState,ActiveState,SubState,UnitFileState,NRestarts,MainPID,InvocationID,"
    "ActiveEnterTimestamp] [--]";

// The show call for the units not refused.
std::string showCall(const std::vector<Unit>& units) {
  std::string call = kShow;
  for (const auto& unit : units) {
    if (unit.refused.empty()) call += " [" + unit.name + "]";
  }
  return call + "\n";
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// The JSON document for `units` (names as they stand inside a JSON string).
std::string document(const std::vector<Unit>& units, const std::vector<std::string>& problems) {
  std::string text = "{\n  \"problems\": [";
  for (size_t i = 0; i < problems.size(); ++i) {
    text += (i ? ",\n    " : "\n    ") + quoted(problems[i]);
  }
  text += problems.empty() ? "],\n" : "\n  ],\n";
  text += "  \"units\": [\n";
  for (size_t i = 0; i < units.size(); ++i) {
    const Unit& u = units[i];
    text += "    {\n";
    if (u.refused.empty()) {
      text += "      \"ActiveEnterTimestamp\": " + quoted(u.load == "loaded" ? kSince : "") +
              ",\n      \"ActiveState\": " + quoted(u.active) +
              ",\n      \"InvocationID\": " + quoted(u.active == "inactive" ? "" : kInvocation) +
              ",\n      \"LoadState\": " + quoted(u.load) +
              ",\n      \"MainPID\": " + (running(u) ? "4242" : "0") +
              ",\n      \"NRestarts\": " + (u.active == "failed" ? "2" : "0") +
              ",\n      \"SubState\": " + quoted(u.sub) +
              ",\n      \"UnitFileState\": " + quoted(u.enabled) + ",\n";
    }
    text += "      \"name\": " + quoted(u.name) + ",\n";
    if (!u.refused.empty()) text += "      \"refused\": " + quoted(u.refused) + ",\n";
    text += "      \"role\": " + quoted(u.role) + "\n    }" + (i + 1 < units.size() ? ",\n" : "\n");
  }
  return text + "  ]\n}\n";
}

const Unit kEngine{"engine", "tarnwick.service"};
const Unit kDatabase{"database", "mariadb.service"};
const Unit kFpm{"php-fpm", "php8.2-fpm"};
const Unit kApache{"web server", "apache2"};
const Unit kNginx{"web server", "nginx"};

// `unit` in another state.
Unit in(Unit unit, std::string active, std::string sub, std::string enabled = "enabled",
        std::string load = "loaded") {
  unit.active = std::move(active);
  unit.sub = std::move(sub);
  unit.enabled = std::move(enabled);
  unit.load = std::move(load);
  return unit;
}

Unit refusedFpm(std::string name, std::string why) {
  return {.role = "php-fpm", .name = std::move(name), .refused = std::move(why)};
}

const std::string kFpmDocument = R"({"php":[{"type":"fpm","service":"php8.2-fpm"}]})";

// A host with mariadb, a registry that runs `registry` (none when empty) and a systemctl
// that shows `units`, unless `systemctlScript` says otherwise.
FakeHost host(const std::string& registry, const std::vector<Unit>& units,
              const std::string& systemctlScript = "", bool database = true) {
  FakeHost fake{{{"/bin/systemctl", systemctlScript.empty() ? systemctl(units) : systemctlScript}}};
  if (!registry.empty()) fake.programs.push_back({kRegistry, registry});
  if (database) fake.prepare = [] { writeFile("/lib/systemd/system/mariadb.service", ""); };
  return fake;
}

// `hostmend status --json` on a host whose units are `units` (the database among them, or
// not) and whose registry prints `registryDocument`.
Case statusJson(const std::string& name, const std::vector<Unit>& units,
                const std::vector<std::string>& problems, int status,
                const std::string& registry = answer(kFpmDocument)) {
  bool database = false;
  for (const auto& unit : units) database = database || unit.role == "database";
  return {.name = name,
          .host = host(registry, units, "", database),
          .tool = "hostmend",
          .arguments = {"status", "--json"},
          .out = document(units, problems),
          .status = status,
          .calls = (registry.empty() ? "" : kRegistryCall) + showCall(units)};
}

const std::vector<Unit> kHealthy = {kEngine, kDatabase, kFpm, kApache, kNginx};

TEST(Hostmend, FrontEndWords) {
  const FakeHost fake = host(answer(kFpmDocument), kHealthy);
  runCases({
      {.name = "no word",
       .host = fake,
       .tool = "hostmend",
       .arguments = {},
       .out = "",
       .err = kUsage,
       .status = 2},
      {.name = "--help",
       .host = fake,
       .tool = "hostmend",
       .arguments = {"--help", "start"},
       .out = kUsage},
      {.name = "-h", .host = fake, .tool = "hostmend", .arguments = {"-h"}, .out = kUsage},
      {.name = "unknown command",
       .host = fake,
       .tool = "hostmend",
       .arguments = {"stat"},
       .out = "",
       .err = "Unknown command: stat\n" + kUsage,
       .status = 2},
      {.name = "an option for a command",
       .host = fake,
       .tool = "hostmend",
       .arguments = {"--json", "status"},
       .out = "",
       .err = "Unknown command: --json\n" + kUsage,
       .status = 2},
      {.name = "unknown option of status",
       .host = fake,
       .tool = "hostmend",
       .arguments = {"status", "--jsn"},
       .out = "",
       .err = "Unknown option: --jsn\n" + kUsage,
       .status = 2},
      {.name = "--json twice",
       .host = fake,
       .tool = "hostmend",
       .arguments = {"status", "--json", "--json"},
       .out = "",
       .err = "Unknown option: --json\n" + kUsage,
       .status = 2},
      {.name = "a unit after status",
       .host = fake,
       .tool = "hostmend",
       .arguments = {"status", "nginx"},
       .out = "",
       .err = "Unknown option: nginx\n" + kUsage,
       .status = 2},
      {.name = "start without a unit",
       .host = fake,
       .tool = "hostmend",
       .arguments = {"start"},
       .out = "",
       .err = kUsage,
       .status = 2},
  });
}

TEST(Hostmend, StatusShowsEveryUnitOfTheStack) {
  // Written out once in full: the shape of the document.
  Case healthy = statusJson("all running", kHealthy, {}, 0);
  const std::string start =
      "{\n  \"problems\": [],\n  \"units\": [\n    {\n"
      "      \"ActiveEnterTimestamp\": \"Wed 2026-12-09 02:00:00 UTC\",\n"
      "      \"ActiveState\": \"active\",\n"
      "      \"InvocationID\": \"5f2a0c3e9d2b4c61a6f0e4b8d1c7a935\",\n"
      "      \"LoadState\": \"loaded\",\n      \"MainPID\": 4242,\n"
      "      \"NRestarts\": 0,\n      \"SubState\": \"running\",\n";
  ASSERT_EQ(healthy.out.substr(0, start.size()), start);
  const Unit apacheOff = in(kApache, "inactive", "dead", "disabled");
  runCases({
      withJournal(healthy, ""),
      withJournal(
          statusJson("nginx failed",
                     {kEngine, kDatabase, kFpm, kApache, in(kNginx, "failed", "failed")}, {}, 3),
          ""),
      statusJson("apache2 stopped and disabled on purpose",
                 {kEngine, kDatabase, kFpm, apacheOff, kNginx}, {}, 0),
      statusJson("apache2 masked, nginx not installed",
                 {kEngine, kDatabase, kFpm, in(kApache, "inactive", "dead", "masked", "masked"),
                  in(kNginx, "inactive", "dead", "", "not-found")},
                 {}, 0),
      statusJson("no database unit", {kEngine, kFpm, kApache, kNginx}, {}, 0),
      statusJson("the registry fails", {kEngine, kDatabase, kApache, kNginx},
                 {"Unable to get php-fpm services list: interpbook failed with exit code 3"}, 3,
                 answer(kFpmDocument, "", 3)),
      statusJson("refused names: an option, empty, digits only, a socket",
                 {kEngine, kDatabase,
                  refusedFpm("-H",
                             "systemctl would not read this name as a "
                             "unit name"),
                  refusedFpm("", "an empty name is no unit"), kFpm,
                  refusedFpm("8", "systemctl show would read a name of digits only as a job"),
                  refusedFpm("php.socket", "not a service unit"), kApache, kNginx},
                 {"Refused PHP-FPM unit name: -H", "Refused PHP-FPM unit name: ",
                  "Refused PHP-FPM unit name: 8", "Refused PHP-FPM unit name: php.socket"},
                 3,
                 answer(R"({"php":[{"type":"fpm","service":"-H"},{"type":"fpm","service":""},)"
                        R"({"type":"fpm","service":"php8.2-fpm"},{"type":"fpm","service":"8"},)"
                        R"({"type":"fpm","service":"php.socket"}]})")),
  });
}

TEST(Hostmend, StatusAsATable) {
  runCases({
      Case{
          .name = "a failed unit and a refused name",
          .host = host(answer(R"({"php":[{"type":"fpm","service":"php8.2-fpm"},)"
                              R"({"type":"fpm","service":"*"}]})"),
                       {kEngine, kDatabase, kFpm, in(kApache, "inactive", "dead", "disabled"),
                        in(kNginx, "failed", "failed")}),
          .tool = "hostmend",
          .arguments = {"status"},
          .out =
              R"(ROLE       UNIT             ACTIVE   SUB     ENABLED  SINCE                       RESTARTS
engine     tarnwick.service active   running enabled  Wed 2026-12-09 02:00:00 UTC 0
database   mariadb.service  active   running enabled  Wed 2026-12-09 02:00:00 UTC 0
php-fpm    php8.2-fpm       active   running enabled  Wed 2026-12-09 02:00:00 UTC 0
php-fpm    *                refused: systemctl would not read this name as a unit name
web server apache2          inactive dead    disabled Wed 2026-12-09 02:00:00 UTC 0
web server nginx            failed   failed  enabled  Wed 2026-12-09 02:00:00 UTC 2

Refused PHP-FPM unit name: *
)",
          .status = 3,
          .calls = kRegistryCall + showCall({kEngine, kDatabase, kFpm, kApache, kNginx})},
      Case{
          .name = "all running, no database, a name with a newline",
          .host = host(answer(R"({"php":[{"type":"fpm","service":"a\nb"}]})"),
                       {kEngine,
                        {"php-fpm", "a\nb"},
                        kApache,
                        in(kNginx, "inactive", "dead", "", "not-found")},
                       "", false),
          .tool = "hostmend",
          .arguments = {"status"},
          .out =
              R"(ROLE       UNIT             ACTIVE   SUB     ENABLED SINCE                       RESTARTS
engine     tarnwick.service active   running enabled Wed 2026-12-09 02:00:00 UTC 0
php-fpm    a\x0ab           active   running enabled Wed 2026-12-09 02:00:00 UTC 0
web server apache2          active   running enabled Wed 2026-12-09 02:00:00 UTC 0
web server nginx            inactive dead    -       -                           0
)",
          .calls = kRegistryCall + kShow + " [tarnwick.service] [a\nb] [apache2] [nginx]\n"},
  });
}

std::string failed(const std::string& line) {
  return journalEntry("tool-failed", 3, {{"MESSAGE", line}, {"HOSTMEND_ERROR", line}});
}

TEST(Hostmend, StatusEndsWhenSystemctlFails) {
  const std::vector<Unit> units = kHealthy;
  const std::string calls = kRegistryCall + showCall(units);
  runCases({
      withJournal({.name = "show gives too few blocks",
                   .host = host(answer(kFpmDocument), units,
                                answer(block(kEngine) + "\n" + block(kDatabase))),
                   .tool = "hostmend",
                   .arguments = {"status", "--json"},
                   .out = "",
                   .err = "systemctl show gave 2 blocks for 5 units\n",
                   .status = 1,
                   .calls = calls},
                  failed("systemctl show gave 2 blocks for 5 units")),
      {.name = "show gives too many blocks, and says why",
       .host = host(answer(kFpmDocument), units,
                    answer(std::string(6, '\n'), "Unit php8.2-fpm.service is odd.\n")),
       .tool = "hostmend",
       .arguments = {"status"},
       .out = "",
       .err = "Unit php8.2-fpm.service is odd.\n",
       .status = 1,
       .calls = calls},
      {.name = "show fails: its last line",
       .host = host(answer(kFpmDocument), units,
                    answer("", "Failed to connect to bus: No such file or directory\n\n", 1)),
       .tool = "hostmend",
       .arguments = {"status", "--json"},
       .out = "",
       .err = "Failed to connect to bus: No such file or directory\n",
       .status = 1,
       .calls = calls},
      {.name = "show fails silently",
       .host = host(answer(kFpmDocument), units, "kill -KILL $$"),
       .tool = "hostmend",
       .arguments = {"status"},
       .out = "",
       .err = "systemctl show failed with exit code 9\n",
       .status = 1,
       .calls = calls},
      {.name = "a block without a property",
       .host = host(answer(kFpmDocument), units,
                    answer(block(kEngine) + "\n" + block(kDatabase) + "\n" + block(kFpm) + "\n" +
                           block(kApache) + "\nLoadState=loaded\n")),
       .tool = "hostmend",
       .arguments = {"status"},
       .out = "",
       .err = "systemctl show gave no ActiveState for nginx\n",
       .status = 1,
       .calls = calls},
      {.name = "a restart count that is no number",
       .host = host(answer(kFpmDocument), units,
                    answer(block(kEngine) + "\n" + block(kDatabase) + "\n" + block(kFpm) + "\n" +
                           block(kApache) + "\nNRestarts=[not set]\n" + block(kNginx))),
       .tool = "hostmend",
       .arguments = {"status"},
       .out = "",
       .err = "systemctl show gave NRestarts=[not set] for nginx, not a number\n",
       .status = 1,
       .calls = calls},
      {.name = "no systemctl",
       .host = {{{kRegistry, answer(kFpmDocument)}}},
       .tool = "hostmend",
       .arguments = {"status"},
       .out = "",
       .err = "execve failed: No such file or directory\n",
       .status = 1,
       .calls = kRegistryCall},
      {.name = "the table into a full disk",
       .host = host(answer(kFpmDocument), units),
       .tool = "hostmend",
       .arguments = {"status"},
       .out = "",
       .err = "write error: No space left on device\n",
       .status = 1,
       .calls = calls,
       .launch = {.stdoutTo = Output::Full}},
  });
}

// The report of a start that succeeded silently, as an element of the array.
std::string started(const std::string& unit) {
  return "  {\n    \"message\": \"\",\n    \"name\": \"" + unit +
         "\",\n    \"status\": \"running\"\n  }";
}

std::string notStarted(const std::string& unit) {
  return "  {\n    \"message\": \"" + kOutside + "\",\n    \"name\": \"" + unit +
         "\",\n    \"status\": \"stopped\"\n  }";
}

std::string startEntry(const std::string& unit, const std::string& systemdUnit) {
  return serviceActionEntry("start", unit, systemdUnit, 0, "running", 6);
}

std::string refusalEntry(const std::string& unit, const std::string& systemdUnit) {
  JournalFields fields = {{"MESSAGE", "refused " + unit + ": " + kOutside.substr(13)},
                          {"HOSTMEND_ACTION", "start"},
                          {"HOSTMEND_UNIT", unit}};
  if (!systemdUnit.empty()) fields.emplace_back("OBJECT_SYSTEMD_UNIT", systemdUnit);
  fields.emplace_back("HOSTMEND_ERROR", kOutside);
  return journalEntry("name-refused", 4, fields);
}

std::string startCall(const std::string& unit) { return "/bin/systemctl [start] [" + unit + "]\n"; }

TEST(Hostmend, StartsUnitsOfTheStackOnly) {
  const FakeHost fake = host(answer(kFpmDocument), kHealthy);
  const FakeHost fails =
      host(answer(kFpmDocument), kHealthy,
           R"([ "$2" = nginx ] && { echo "Job for nginx.service failed." >&2; exit 1; }; exit 0)");
  runCases({
      withJournal({.name = "a listed unit",
                   .host = fake,
                   .tool = "hostmend",
                   .arguments = {"start", "nginx"},
                   .out = "[\n" + started("nginx") + "\n]\n",
                   .calls = kRegistryCall + startCall("nginx")},
                  startEntry("nginx", "nginx.service")),
      withJournal({.name = "nginx.service when the stack says nginx",
                   .host = fake,
                   .tool = "hostmend",
                   .arguments = {"start", "nginx.service"},
                   .out = "[\n" + notStarted("nginx.service") + "\n]\n",
                   .calls = kRegistryCall},
                  refusalEntry("nginx.service", "nginx.service")),
      withJournal({.name = "in order, units outside the stack between",
                   .host = fake,
                   .tool = "hostmend",
                   .arguments = {"start", "php8.2-fpm", "sshd", "-H", "mariadb.service",
                                 "tarnwick.service"},
                   .out = "[\n" + started("php8.2-fpm") + ",\n" + notStarted("sshd") + ",\n" +
                          notStarted("-H") + ",\n" + started("mariadb.service") + ",\n" +
                          started("tarnwick.service") + "\n]\n",
                   .calls = kRegistryCall + startCall("php8.2-fpm") + startCall("mariadb.service") +
                            startCall("tarnwick.service")},
                  startEntry("php8.2-fpm", "php8.2-fpm.service") +
                      refusalEntry("sshd", "sshd.service") + refusalEntry("-H", "") +
                      startEntry("mariadb.service", "mariadb.service") +
                      startEntry("tarnwick.service", "tarnwick.service")),
      withJournal({.name = "a start that fails is reported, status 0",
                   .host = fails,
                   .tool = "hostmend",
                   .arguments = {"start", "apache2", "nginx"},
                   .out = "[\n" + started("apache2") +
                          ",\n  {\n    \"message\": \"\\nJob for nginx.service failed.\\n"
                          "\\nFinished with exit code 1\",\n    \"name\": \"nginx\",\n"
                          "    \"status\": \"stopped\"\n  }\n]\n",
                   .calls = kRegistryCall + startCall("apache2") + startCall("nginx")},
                  startEntry("apache2", "apache2.service") +
                      serviceActionEntry("start", "nginx", "nginx.service", 1, "stopped", 4,
                                         "Job for nginx.service failed.")),
      {.name = "a refused PHP-FPM name is not of the stack",
       .host = host(answer(R"({"php":[{"type":"fpm","service":"7"}]})"), kHealthy),
       .tool = "hostmend",
       .arguments = {"start", "7"},
       .out = "[\n" + notStarted("7") + "\n]\n",
       .calls = kRegistryCall},
      withJournal(
          {.name = "the registry fails: its pools are unknown, the web servers start",
           .host = host(answer("", "", 3), kHealthy),
           .tool = "hostmend",
           .arguments = {"start", "php8.2-fpm", "nginx"},
           .out = "[\n" + notStarted("php8.2-fpm") + ",\n" + started("nginx") + "\n]\n",
           .err = "Unable to get php-fpm services list: interpbook failed with exit code 3\n",
           .calls = kRegistryCall + startCall("nginx")},
          journalEntry("registry-failed", 4,
                       {{"MESSAGE",
                         "Unable to get php-fpm services list: interpbook failed with exit code 3"},
                        {"HOSTMEND_ERROR", "interpbook failed with exit code 3"}}) +
              refusalEntry("php8.2-fpm", "php8.2-fpm.service") +
              startEntry("nginx", "nginx.service")),
  });
}

}  // namespace

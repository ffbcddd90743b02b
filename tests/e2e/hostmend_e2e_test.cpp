// hostmend: the state of the whole hosting stack from one systemctl call, and the start of
// units of that stack.
#include <map>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "sandbox.h"

namespace {

const char kRegistry[] = "/opt/ovk/admin/sbin/interpbook";
const std::string kRegistryCall = std::string(kRegistry) + " [--list-json]\n";
const std::string kUsage =
    "Usage: hostmend [status [--json] [--timeout SECONDS] [--no-probes]|start UNIT...|restart "
    "UNIT...]\n";
// A main process that cannot exist (process ids stay below 2^22): its unit has no socket.
const std::string kGonePid = "4194304";
const std::string kSince = "Wed 2026-12-09 02:00:00 UTC";
const std::string kInvocation = "5f2a0c3e9d2b4c61a6f0e4b8d1c7a935";
const std::string kOutside = "Not started: not a unit of this server's hosting stack";
const std::string kNotRestarted = "Not restarted: not a unit of this server's hosting stack";

// One unit as the fake systemctl shows it.
struct Unit {
  std::string role;
  std::string name;
  std::string active = "active";
  std::string sub = "running";
  std::string enabled = "enabled";
  std::string load = "loaded";
  std::string refused = "";
  // Where the id of its main process is, when one of the test's own plays it.
  std::string pidFile = "";
};

bool running(const Unit& unit) { return unit.active == "active"; }

// A block as systemctl show prints it, in its own order of the properties.
std::string block(const Unit& unit) {
  return "MainPID=" + std::string(running(unit) ? kGonePid : "0") +
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
    std::string text = block(unit);
    if (!unit.pidFile.empty()) {
      text.erase(0, text.find('\n') + 1);
      script += shellQuote(unit.name) + ") printf 'MainPID=%s\\n' \"$(cat " +
                shellQuote(unit.pidFile) + ")\"; printf %s " + shellQuote(text) + ";;\n";
      continue;
    }
    script += shellQuote(unit.name) + ") printf %s " + shellQuote(text) + ";;\n";
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
  std::string text = "{\n  \"probed\": true,\n  \"problems\": [";
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
              ",\n      \"MainPID\": " + (running(u) ? kGonePid : "0") +
              ",\n      \"NRestarts\": " + (u.active == "failed" ? "2" : "0") +
              ",\n      \"SubState\": " + quoted(u.sub) +
              ",\n      \"UnitFileState\": " + quoted(u.enabled) + ",\n";
    }
    text += "      \"name\": " + quoted(u.name) + ",\n      \"probes\": [],\n";
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
      {.name = "restart without a unit",
       .host = fake,
       .tool = "hostmend",
       .arguments = {"restart"},
       .out = "",
       .err = kUsage,
       .status = 2},
      {.name = "a timeout of 0",
       .host = fake,
       .tool = "hostmend",
       .arguments = {"status", "--timeout", "0"},
       .out = "",
       .err = "Invalid timeout: 0\n" + kUsage,
       .status = 2},
      {.name = "a timeout of 61",
       .host = fake,
       .tool = "hostmend",
       .arguments = {"status", "--json", "--timeout", "61"},
       .out = "",
       .err = "Invalid timeout: 61\n" + kUsage,
       .status = 2},
      {.name = "a timeout that is no whole number",
       .host = fake,
       .tool = "hostmend",
       .arguments = {"status", "--timeout", "1.5"},
       .out = "",
       .err = "Invalid timeout: 1.5\n" + kUsage,
       .status = 2},
      {.name = "a negative timeout",
       .host = fake,
       .tool = "hostmend",
       .arguments = {"status", "--timeout", "-2"},
       .out = "",
       .err = "Invalid timeout: -2\n" + kUsage,
       .status = 2},
      {.name = "an empty timeout",
       .host = fake,
       .tool = "hostmend",
       .arguments = {"status", "--timeout", ""},
       .out = "",
       .err = "Invalid timeout: \n" + kUsage,
       .status = 2},
      {.name = "--timeout without its value",
       .host = fake,
       .tool = "hostmend",
       .arguments = {"status", "--timeout"},
       .out = "",
       .err = kUsage,
       .status = 2},
      {.name = "--timeout twice",
       .host = fake,
       .tool = "hostmend",
       .arguments = {"status", "--timeout", "3", "--timeout", "3"},
       .out = "",
       .err = "Unknown option: --timeout\n" + kUsage,
       .status = 2},
      {.name = "--no-probes twice",
       .host = fake,
       .tool = "hostmend",
       .arguments = {"status", "--no-probes", "--no-probes"},
       .out = "",
       .err = "Unknown option: --no-probes\n" + kUsage,
       .status = 2},
  });
}

TEST(Hostmend, StatusShowsEveryUnitOfTheStack) {
  // Written out once in full: the shape of the document.
  Case healthy = statusJson("all running", kHealthy, {}, 0);
  const std::string start =
      "{\n  \"probed\": true,\n  \"problems\": [],\n  \"units\": [\n    {\n"
      "      \"ActiveEnterTimestamp\": \"Wed 2026-12-09 02:00:00 UTC\",\n"
      "      \"ActiveState\": \"active\",\n"
      "      \"InvocationID\": \"5f2a0c3e9d2b4c61a6f0e4b8d1c7a935\",\n"
      "      \"LoadState\": \"loaded\",\n      \"MainPID\": 4194304,\n"
      "      \"NRestarts\": 0,\n      \"SubState\": \"running\",\n";
  ASSERT_EQ(healthy.out.substr(0, start.size()), start);
  const Unit apacheOff = in(kApache, "inactive", "dead", "disabled");
  runCases({
      withJournal(healthy, ""),
      {.name = "--no-probes: nothing probed, and the document says so",
       .host = host(answer(kFpmDocument), kHealthy),
       .tool = "hostmend",
       .arguments = {"status", "--no-probes", "--json"},
       .out = std::string(healthy.out).replace(healthy.out.find("true"), 4, "false"),
       .calls = healthy.calls},
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
      {.name = "a failed unit and a refused name",
       .host = host(answer(R"({"php":[{"type":"fpm","service":"php8.2-fpm"},)"
                           R"({"type":"fpm","service":"*"}]})"),
                    {kEngine, kDatabase, kFpm, in(kApache, "inactive", "dead", "disabled"),
                     in(kNginx, "failed", "failed")}),
       .tool = "hostmend",
       .arguments = {"status"},
       .out =
           R"(ROLE       UNIT             ACTIVE   SUB     ENABLED  SINCE                       RESTARTS PROBE
engine     tarnwick.service active   running enabled  Wed 2026-12-09 02:00:00 UTC 0        no socket
database   mariadb.service  active   running enabled  Wed 2026-12-09 02:00:00 UTC 0        no socket
php-fpm    php8.2-fpm       active   running enabled  Wed 2026-12-09 02:00:00 UTC 0        no socket
php-fpm    *                refused: systemctl would not read this name as a unit name
web server apache2          inactive dead    disabled Wed 2026-12-09 02:00:00 UTC 0        -
web server nginx            failed   failed  enabled  Wed 2026-12-09 02:00:00 UTC 2        -

Refused PHP-FPM unit name: *
)",
       .status = 3,
       .calls = kRegistryCall + showCall({kEngine, kDatabase, kFpm, kApache, kNginx})},
      {.name = "all running, no database, a name with a newline",
       .host = host(
           answer(R"({"php":[{"type":"fpm","service":"a\nb"}]})"),
           {kEngine, {"php-fpm", "a\nb"}, kApache, in(kNginx, "inactive", "dead", "", "not-found")},
           "", false),
       .tool = "hostmend",
       .arguments = {"status"},
       .out =
           R"(ROLE       UNIT             ACTIVE   SUB     ENABLED SINCE                       RESTARTS PROBE
engine     tarnwick.service active   running enabled Wed 2026-12-09 02:00:00 UTC 0        no socket
php-fpm    a\x0ab           active   running enabled Wed 2026-12-09 02:00:00 UTC 0        no socket
web server apache2          active   running enabled Wed 2026-12-09 02:00:00 UTC 0        no socket
web server nginx            inactive dead    -       -                           0        -
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

std::string refusalEntry(const std::string& unit, const std::string& systemdUnit,
                         const std::string& action = "start") {
  JournalFields fields = {{"MESSAGE", "refused " + unit + ": " + kOutside.substr(13)},
                          {"HOSTMEND_ACTION", action},
                          {"HOSTMEND_UNIT", unit}};
  if (!systemdUnit.empty()) fields.emplace_back("OBJECT_SYSTEMD_UNIT", systemdUnit);
  fields.emplace_back("HOSTMEND_ERROR", action == "start" ? kOutside : kNotRestarted);
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
      withJournal(
          {.name = "restart: a listed unit, one outside the stack",
           .host = fake,
           .tool = "hostmend",
           .arguments = {"restart", "php8.2-fpm", "nginx.service"},
           .out = "[\n" + started("php8.2-fpm") + ",\n  {\n    \"message\": \"" + kNotRestarted +
                  "\",\n    \"name\": \"nginx.service\",\n    \"status\": \"stopped\"\n  }\n]\n",
           .calls = kRegistryCall + "/bin/systemctl [restart] [php8.2-fpm]\n"},
          serviceActionEntry("restart", "php8.2-fpm", "php8.2-fpm.service", 0, "running", 6) +
              refusalEntry("nginx.service", "nginx.service", "restart")),
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

// One MariaDB packet with sequence number 0.
std::string databasePacket(const std::string& payload) {
  return static_cast<char>(payload.size()) + std::string("\0\0\0", 3) + payload;
}

const std::string kHandshake =
    databasePacket(std::string("\x0a"
                               "10.11.6-MariaDB\0",
                               17));
const std::string kTooMany = databasePacket(std::string("\xff\x10\x04Too many connections", 23));
// An FCGI_GET_VALUES_RESULT record: 18 bytes of content ("FCGI_MPXS_CONNS" = "0"), padded
// to 24.
const std::string kFastCgiResult = std::string("\x01\x0a\0\0\0\x12\x06\0", 8) +
                                   "\x0f\x01"
                                   "FCGI_MPXS_CONNS0" +
                                   std::string(6, '\0');
const std::string kHttpBadRequest = "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n";

FakeListener replying(std::string address, std::string reply, bool speaksFirst = false) {
  return {.address = std::move(address), .reply = std::move(reply), .speaksFirst = speaksFirst};
}

FakeListener serving(std::string address, FakeListener::Serve serve) {
  return {.address = std::move(address), .serve = serve};
}

// Listeners that answer as each kind of service does.
const std::vector<FakeListener> kEngineListens = {
    serving("unix:/opt/tarnwick/engine.sock", FakeListener::Serve::Silent)};
const std::vector<FakeListener> kDatabaseListens = {
    replying("unix:/opt/mysqld/mysqld.sock", kHandshake, true),
    replying("127.0.0.1:3306", kHandshake, true)};
const std::vector<FakeListener> kFpmListens = {
    replying("unix:/opt/php/php8.2-fpm.sock", kFastCgiResult)};
const std::vector<FakeListener> kApacheListens = {
    replying("127.0.0.1:8080", "HTTP/1.1 200 OK\r\nAllow: GET,POST,OPTIONS,HEAD\r\n\r\n")};
const std::vector<FakeListener> kNginxListens = {replying("0.0.0.0:80", kHttpBadRequest),
                                                 replying("[::]:80", kHttpBadRequest)};

// The healthy stack, each unit's main process one of the test's own listening on the
// listeners given for it (or on those above), in the fake host's network namespace.
FakeHost servedHost(std::map<std::string, std::vector<FakeListener>> listeners,
                    const std::string& isolated = "") {
  std::vector<Unit> units = kHealthy;
  for (auto& unit : units) {
    unit.pidFile = "/opt/services/" + unit.name + ".pid";
    listeners.emplace(unit.name, unit.role == "engine"     ? kEngineListens
                                 : unit.role == "database" ? kDatabaseListens
                                 : unit.role == "php-fpm"  ? kFpmListens
                                 : unit.name == "apache2"  ? kApacheListens
                                                           : kNginxListens);
  }
  FakeHost fake = host(answer(kFpmDocument), units);
  fake.prepare = [listeners, isolated] {
    writeFile("/lib/systemd/system/mariadb.service", "");
    bringLoopbackUp();
    for (const auto& [name, listens] : listeners) {
      serveWhileToolRuns(listens, "/opt/services/" + name + ".pid", name == isolated);
    }
  };
  return fake;
}

// The table of the healthy stack with the probe cells of its five units.
std::string probedTable(const std::vector<std::string>& cells) {
  std::string table =
      "ROLE       UNIT             ACTIVE SUB     ENABLED SINCE                       RESTARTS "
      "PROBE\n";
  for (size_t i = 0; i < kHealthy.size(); ++i) {
    const Unit& unit = kHealthy[i];
    table += unit.role + std::string(11 - unit.role.size(), ' ') + unit.name +
             std::string(17 - unit.name.size(), ' ') + "active running enabled " + kSince +
             " 0        " + cells[i] + "\n";
  }
  return table;
}

Case probed(const std::string& name, std::map<std::string, std::vector<FakeListener>> listeners,
            const std::vector<std::string>& cells, int status, const std::string& isolated = "") {
  return {.name = name,
          .host = servedHost(std::move(listeners), isolated),
          .tool = "hostmend",
          .arguments = {"status", "--timeout", "1"},
          .out = probedTable(cells),
          .status = status,
          .calls = kRegistryCall + showCall(kHealthy)};
}

const std::vector<std::string> kAllAnswered(5, "answered");

std::vector<std::string> cellsWith(size_t unit, const std::string& cell) {
  std::vector<std::string> cells = kAllAnswered;
  cells[unit] = cell;
  return cells;
}

TEST(Hostmend, StatusProbesEveryActiveUnit) {
  using Serve = FakeListener::Serve;
  std::string unprobed = probedTable(std::vector<std::string>(5, "-"));
  runCases({
      {.name = "--no-probes leaves them out",
       .host = servedHost({}),
       .tool = "hostmend",
       .arguments = {"status", "--no-probes"},
       .out = unprobed,
       .calls = kRegistryCall + showCall(kHealthy)},
      probed("every unit answers as its clients expect", {}, kAllAnswered, 0),
      probed("a pool that accepts and never answers",
             {{"php8.2-fpm", {serving("unix:/opt/php/php8.2-fpm.sock", Serve::Silent)}}},
             cellsWith(2, "no answer"), 3),
      probed("a pool whose backlog is full",
             {{"php8.2-fpm", {serving("unix:/opt/php/php8.2-fpm.sock", Serve::BacklogFull)}}},
             cellsWith(2, "no answer"), 3),
      probed("a web server that answers garbage",
             {{"nginx", {replying("[::]:80", "SSH-2.0-OpenSSH_9.2p1\r\n")}}},
             cellsWith(4, "wrong answer"), 0),
      // A database, which is sent nothing: a server closing on a request unread resets the
      // connection instead, which is "refused".
      probed("a database that closes at once",
             {{"mariadb.service", {serving("127.0.0.1:3306", Serve::ClosesAtOnce)}}},
             cellsWith(1, "wrong answer"), 0),
      probed("a database with too many connections",
             {{"mariadb.service", {replying("unix:/opt/mysqld/mysqld.sock", kTooMany, true)}}},
             cellsWith(1, "refused"), 0),
      probed("a database that takes connections and never greets",
             {{"mariadb.service",
               {serving("unix:/opt/mysqld/mysqld.sock", Serve::Silent),
                serving("127.0.0.1:3306", Serve::Silent)}}},
             cellsWith(1, "no answer"), 3),
      probed(
          "one address of two silent: the worst shown, still answering",
          {{"nginx",
            {replying("127.0.0.1:80", kHttpBadRequest), serving("127.0.0.1:81", Serve::Silent)}}},
          cellsWith(4, "no answer"), 0),
      probed("a silent engine is only asked for its connection",
             {{"tarnwick.service", {serving("127.0.0.1:4443", Serve::Silent)}}}, kAllAnswered, 0),
      probed("nothing listens", {{"nginx", {}}}, cellsWith(4, "no socket"), 0),
      probed("a pool in a network namespace of its own, silent there",
             {{"php8.2-fpm", {serving("127.0.0.1:9000", Serve::Silent)}}},
             cellsWith(2, "other network namespace"), 0, "php8.2-fpm"),
  });
}

// The document with each probe's own result, its detail and how long it took.
TEST(Hostmend, StatusDocumentHasEveryProbe) {
  const ToolRun run = runTool(
      "hostmend", {"status", "--json", "--timeout", "1"},
      servedHost({{"php8.2-fpm",
                   {serving("unix:/opt/php/php8.2-fpm.sock", FakeListener::Serve::BacklogFull)}},
                  {"mariadb.service",
                   {replying("unix:/opt/mysqld/mysqld.sock", kTooMany, true),
                    serving("127.0.0.1:3306", FakeListener::Serve::Silent)}}}));
  ASSERT_EQ(run.leftOut, "");
  EXPECT_EQ(run.status, 3);
  const auto document = nlohmann::json::parse(run.out);
  EXPECT_EQ(document["probed"], true);
  std::string probes;
  for (const auto& unit : document["units"]) {
    for (const auto& probe : unit["probes"]) {
      const double seconds = probe["seconds"];
      EXPECT_LT(seconds, 1.5) << probe;
      const bool slow = seconds >= 1.0;
      probes += unit["name"].get<std::string>() + " " + probe["address"].get<std::string>() + " " +
                probe["result"].get<std::string>() + " (" + probe["detail"].get<std::string>() +
                ")" + (slow ? " after the limit" : "") + "\n";
    }
  }
  EXPECT_EQ(probes,
            "tarnwick.service unix:/opt/tarnwick/engine.sock answered ()\n"
            "mariadb.service 127.0.0.1:3306 no answer () after the limit\n"
            "mariadb.service unix:/opt/mysqld/mysqld.sock refused (Too many connections)\n"
            "php8.2-fpm unix:/opt/php/php8.2-fpm.sock no answer (Resource temporarily "
            "unavailable)\n"
            "apache2 127.0.0.1:8080 answered ()\n"
            "nginx 127.0.0.1:80 answered ()\n"
            "nginx [::1]:80 answered ()\n");
}

}  // namespace

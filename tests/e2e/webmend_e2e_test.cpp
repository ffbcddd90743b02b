// webmend: the PHP-FPM services from the panel's registry, then the web servers.
#include <set>

#include <gtest/gtest.h>

#include "sandbox.h"

namespace {

const char kRegistry[] = "/opt/ovk/admin/sbin/interpbook";
const std::string kRegistryCall = std::string(kRegistry) + " [--list-json]\n";
const std::string kUnable = "Unable to get php-fpm services list: ";

// A host whose registry runs `registry` (none when empty) and whose systemctl runs
// `systemctl`.
FakeHost host(const std::string& registry, const std::string& systemctl = answer("")) {
  FakeHost fake{{{"/bin/systemctl", systemctl}}};
  if (!registry.empty()) fake.programs.push_back({kRegistry, registry});
  return fake;
}

// The try-restart calls of `units`, in order.
std::string tryRestarts(const std::vector<std::string>& units) {
  std::string calls;
  for (const auto& unit : units) calls += "/bin/systemctl [try-restart] [" + unit + "]\n";
  return calls;
}

const std::string kNotRead = "Not restarted: systemctl would not read this name as a unit name";

// The printed array for `units` (each as it stands inside a JSON string): the actions of
// those in `refused` never ran, the others all succeeded silently.
std::string runningReports(const std::vector<std::string>& units,
                           const std::set<std::string>& refused = {}) {
  std::string text = "[\n";
  for (size_t i = 0; i < units.size(); ++i) {
    const bool notRun = refused.contains(units[i]);
    text += "  {\n    \"message\": \"" + (notRun ? kNotRead : "") + "\",\n    \"name\": \"" +
            units[i] + "\",\n    \"status\": \"" + (notRun ? "stopped" : "running") + "\"\n  }" +
            (i + 1 < units.size() ? ",\n" : "\n");
  }
  return text + "]\n";
}

// A row whose registry prints `document` and exits with 0; `units` are what must follow.
Case registryGives(const std::string& name, const std::string& document,
                   const std::vector<std::string>& units) {
  return {.name = name,
          .host = host(answer(document)),
          .tool = "webmend",
          .arguments = {"--restart-web-hosting"},
          .out = runningReports(units),
          .calls = kRegistryCall + tryRestarts(units)};
}

// A row where discovery fails with `error`: one line, then the web servers alone.
Case discoveryFails(const std::string& name, const std::string& registry, const std::string& error,
                    const std::string& registryErr = "", Launch launch = {}) {
  const bool present = !registry.empty();
  return {.name = name,
          .host = host(registry),
          .tool = "webmend",
          .arguments = {"--restart-web-hosting"},
          .out = runningReports({"apache2", "nginx"}),
          .err = registryErr + kUnable + error + "\n",
          .calls = (present ? kRegistryCall : "") + tryRestarts({"apache2", "nginx"}),
          .launch = launch};
}

// The entry of a try-restart that exited with 0.
std::string restarted(const std::string& unit, const std::string& systemdUnit) {
  return serviceActionEntry("try-restart", unit, systemdUnit, 0, "running", 6);
}

// One FPM entry, then 400,000 others: 11.6 MB.
void writeLargeRegistry() {
  std::string document = R"({"php":[{"type":"fpm","service":"php8.2-fpm"})";
  for (int i = 0; i < 400000; ++i) document += R"(,{"type":"cgi","service":"x"})";
  writeFile("/opt/registry.json", document + "]}");
}

TEST(Webmend, RestartsTheFpmServicesThenTheWebServers) {
  Case large = registryGives("a large document in a limited address space", "",
                             {"php8.2-fpm", "apache2", "nginx"});
  large.host = {{{"/bin/systemctl", answer("")}, {kRegistry, "cat /opt/registry.json"}},
                writeLargeRegistry};
  large.launch.addressSpaceKiB = 163840;
  Case sigchldIgnored = registryGives("started with SIGCHLD ignored",
                                      R"({"php":[{"type":"fpm","service":"php8.2-fpm"}]})",
                                      {"php8.2-fpm", "apache2", "nginx"});
  sigchldIgnored.launch.sigchldIgnored = true;
  runCases({
      large,
      sigchldIgnored,
      registryGives("array, in its order",
                    R"({"php":[{"type":"fpm","service":"alpha"},{"type":"cgi","service":"beta"},)"
                    R"({"type":"fpm","service":"gamma"}]})",
                    {"alpha", "gamma", "apache2", "nginx"}),
      registryGives("object, in key order",
                    R"({"php":{"zulu":{"type":"fpm","service":"one"},)"
                    R"("alpha":{"type":"fpm","service":"two"}}})",
                    {"two", "one", "apache2", "nginx"}),
      registryGives("nginx listed as an FPM service is acted on twice",
                    R"({"php":[{"type":"fpm","service":"nginx"}]})"
                    "\n",
                    {"nginx", "apache2", "nginx"}),
      registryGives("empty object", "{}", {"apache2", "nginx"}),
      registryGives("null", "null\n", {"apache2", "nginx"}),
      registryGives("no handlers", R"({"php":[]})", {"apache2", "nginx"}),
      {.name = "the registry's standard error passes through",
       .host = host(answer("{}", "interpbook: slow\n")),
       .tool = "webmend",
       .arguments = {"--restart-web-hosting", "--check"},
       .out = runningReports({"apache2", "nginx"}),
       .err = "interpbook: slow\n",
       .calls = kRegistryCall + tryRestarts({"apache2", "nginx"})},
  });
}

// Longer than the kernel passes as one argument (131,072 bytes with its NUL).
const std::string kTooLong(140000, 'n');

TEST(Webmend, NeverHandsSystemctlANameItWouldMisread) {
  // Options, patterns, paths and a NUL byte get a report but no action; everything else is
  // passed as written.
  const std::vector<std::string> names = {
      "--version", "-H",     "ops@db1",    "*",       "php?-fpm", "php[78]-fpm",
      "/dev/sda",  "/srv",   "a\\u0000b",  " b c ",   "",         "caf\xc3\xa9",
      "-",         kTooLong, "php8.2-fpm", "apache2", "nginx"};
  std::string document = R"({"php":[)";
  for (size_t i = 0; i + 2 < names.size(); ++i) {
    document += (i ? "," : "") + std::string(R"({"type":"fpm","service":")") + names[i] + "\"}";
  }
  runCases({
      {.name = "refused names keep their place",
       .host = host(answer(document + "]}")),
       .tool = "webmend",
       .arguments = {"--restart-web-hosting"},
       .out = runningReports(names, {"--version", "-H", "*", "php?-fpm", "php[78]-fpm", "/dev/sda",
                                     "/srv", "a\\u0000b", "-", kTooLong}),
       .calls = kRegistryCall + tryRestarts({"ops@db1", " b c ", "", "caf\xc3\xa9", "php8.2-fpm",
                                             "apache2", "nginx"})},
  });
}

TEST(Webmend, RestartsTheWebServersWhenDiscoveryFails) {
  const std::string k305 =
      "[json.exception.type_error.305] cannot use operator[] with a string "
      "argument with ";
  runCases({
      discoveryFails("array document", answer("[]"), k305 + "array"),
      discoveryFails("php a string", answer(R"({"php":"php8.2-fpm"})"), k305 + "string"),
      discoveryFails("service a number, earlier names dropped",
                     answer(R"({"php":[{"type":"fpm","service":"alpha"},)"
                            R"({"type":"fpm","service":8.2}]})"),
                     "[json.exception.type_error.302] type must be string, but is number"),
      discoveryFails("empty output", answer(""),
                     "[json.exception.parse_error.101] parse error at line 1, column 1: syntax "
                     "error while parsing value - unexpected end of input; expected '[', '{', or "
                     "a literal"),
      discoveryFails("a control character stays inside the one line", answer("{\"php\":\"a\nb\"}"),
                     "[json.exception.parse_error.101] parse error at line 2, column 0: syntax "
                     "error while parsing value - invalid string: control character U+000A (LF) "
                     "must be escaped to \\u000A or \\n; last read: '\"a<U+000A>'"),
      withJournal(discoveryFails("exit status 3, output ignored",
                                 answer(R"({"php":[{"type":"fpm","service":"alpha"}]})", "", 3),
                                 "interpbook failed with exit code 3"),
                  journalEntry("registry-failed", 4,
                               {{"MESSAGE", kUnable + "interpbook failed with exit code 3"},
                                {"HOSTMEND_ERROR", "interpbook failed with exit code 3"}}) +
                      restarted("apache2", "apache2.service") +
                      restarted("nginx", "nginx.service")),
      discoveryFails("exit status 3, no journal",
                     answer(R"({"php":[{"type":"fpm","service":"alpha"}]})", "", 3),
                     "interpbook failed with exit code 3", "", {.withoutJournal = true}),
      discoveryFails("exit status 1 after its own message", answer("", "interpbook: locked\n", 1),
                     "interpbook failed with exit code 1", "interpbook: locked\n"),
      discoveryFails("killed", "echo '{}'; kill -KILL $$", "interpbook failed with exit code 9"),
      discoveryFails("missing", "", "execve failed: No such file or directory"),
      // The JSON library would take the NUL for the end of its input.
      discoveryFails("a NUL byte, then more",
                     R"(printf '{"php":[{"type":"fpm","service":"a"}]}\000{')",
                     "interpbook printed a NUL byte"),
      discoveryFails("memory runs out on a registry that never stops writing", "yes",
                     "std::bad_alloc", "", {.addressSpaceKiB = 163840}),

  });
}

TEST(Webmend, RestartsWhateverHappensToStandardError) {
  // The line saying that the registry is missing cannot be written: no reason to stop.
  Case gone = discoveryFails("standard error to a reader that went away", "",
                             "execve failed: No such file or directory");
  gone.err = "";
  gone.launch.stderrTo = Output::ReaderGone;
  runCases({gone});
}

TEST(Webmend, ReportsEveryUnit) {
  const std::string apache2Fails =
      R"([ "$2" = apache2 ] && { echo "Unit apache2.service not loaded." >&2; exit 5; }; exit 0)";
  const std::string fpm = answer(R"({"php":[{"type":"fpm","service":"php8.2-fpm"}]})");
  // A name of 3,001 bytes whose two-byte characters the cap must not split.
  std::string longName = "x";
  std::string longMangled = "x";
  for (int i = 0; i < 1500; ++i) longName += "\xc3\xa9", longMangled += "\\xc3\\xa9";
  const std::string longCut = longName.substr(0, 2047);
  const std::string newline = "a\nb";
  runCases({
      {.name = "journal values with a newline, over the cap, and a refused name",
       .host =
           host(answer(R"({"php":[{"type":"fpm","service":"a\nb"},{"type":"fpm","service":"-H"},)"
                       R"({"type":"fpm","service":")" +
                       longName + "\"}]}")),
       .tool = "webmend",
       .arguments = {"--restart-web-hosting"},
       .out = runningReports({"a\\nb", "-H", longName, "apache2", "nginx"}, {"-H"}),
       .calls = kRegistryCall + tryRestarts({newline, longName, "apache2", "nginx"}),
       .journal = journalEntry("service-action", 6,
                               {{"MESSAGE[37]", "try-restart a\nb: exit code 0, running"},
                                {"HOSTMEND_ACTION", "try-restart"},
                                {"HOSTMEND_UNIT[3]", newline},
                                {"OBJECT_SYSTEMD_UNIT", "a\\x0ab.service"},
                                {"HOSTMEND_EXIT_CODE", "0"},
                                {"HOSTMEND_STATUS", "running"}}) +
                  journalEntry("name-refused", 4,
                               {{"MESSAGE", "refused -H: " + kNotRead.substr(15)},
                                {"HOSTMEND_ACTION", "try-restart"},
                                {"HOSTMEND_UNIT", "-H"},
                                {"HOSTMEND_ERROR", kNotRead}}) +
                  journalEntry("service-action", 6,
                               {{"MESSAGE", ("try-restart " + longName).substr(0, 2047)},
                                {"HOSTMEND_ACTION", "try-restart"},
                                {"HOSTMEND_UNIT", longCut},
                                {"OBJECT_SYSTEMD_UNIT", longMangled.substr(0, 2048)},
                                {"HOSTMEND_EXIT_CODE", "0"},
                                {"HOSTMEND_STATUS", "running"}}) +
                  restarted("apache2", "apache2.service") + restarted("nginx", "nginx.service")},
      {.name = "a unit that fails does not stop the others",
       .host = host(fpm, apache2Fails),
       .tool = "webmend",
       .arguments = {"--restart-web-hosting"},
       .out = "[\n"
              "  {\n"
              "    \"message\": \"\",\n"
              "    \"name\": \"php8.2-fpm\",\n"
              "    \"status\": \"running\"\n"
              "  },\n"
              "  {\n"
              "    \"message\": \"\\nUnit apache2.service not loaded.\\n\\nFinished with exit code "
              "5\",\n"
              "    \"name\": \"apache2\",\n"
              "    \"status\": \"stopped\"\n"
              "  },\n"
              "  {\n"
              "    \"message\": \"\",\n"
              "    \"name\": \"nginx\",\n"
              "    \"status\": \"running\"\n"
              "  }\n"
              "]\n",
       .calls = kRegistryCall + tryRestarts({"php8.2-fpm", "apache2", "nginx"}),
       .journal = restarted("php8.2-fpm", "php8.2-fpm.service") +
                  serviceActionEntry("try-restart", "apache2", "apache2.service", 5, "stopped", 4,
                                     "Unit apache2.service not loaded.") +
                  restarted("nginx", "nginx.service")},
      {.name = "no systemctl: nothing printed",
       .host = {{{kRegistry, fpm}}},
       .tool = "webmend",
       .arguments = {"--restart-web-hosting"},
       .out = "",
       .err = "execve failed: No such file or directory\n",
       .status = 1,
       .calls = kRegistryCall},
      {.name = "no process can be created",
       .host = host(fpm),
       .tool = "webmend",
       .arguments = {"--restart-web-hosting"},
       .out = "",
       .err = kUnable + "interpbook failed with exit code 383\n" +
              "fork failed: Resource temporarily unavailable\n",
       .status = 1,
       .launch = {.atProcessLimit = true}},
      {.name = "reports into a full disk",
       .host = host(fpm),
       .tool = "webmend",
       .arguments = {"--restart-web-hosting"},
       .out = "",
       .err = "write error: No space left on device\n",
       .status = 1,
       .calls = kRegistryCall + tryRestarts({"php8.2-fpm", "apache2", "nginx"}),
       .launch = {.stdoutTo = Output::Full}},
  });
}

}  // namespace

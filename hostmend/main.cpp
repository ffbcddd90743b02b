// hostmend: the hosting stack as it really is, and a start for what crashed. Unlike the
// four repair tools it takes a subcommand with options and further arguments, and exits
// with 3 when something is down.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "front_end.h"
#include "output.h"
#include "stack_actions.h"
#include "stack_probes.h"
#include "stack_status.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: hostmend [status [--json] [--timeout SECONDS] [--no-probes]|start UNIT...|restart "
    "UNIT...]\n";
// The probes' time limit, in whole seconds.
constexpr int kShortestLimit = 1;
constexpr int kLongestLimit = 60;

// A wrong command line: `line`, then the usage line.
int wrongCommandLine(const std::string& line) {
  writeDiagnosticLine(line);
  writeStderr(kUsage);
  return 2;
}

// The limit as a whole number of seconds in range, or 0.
int timeoutSeconds(const std::string& value) {
  int seconds = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
  if (value.empty() || error != std::errc() || end != value.data() + value.size() ||
      seconds < kShortestLimit || seconds > kLongestLimit) {
    return 0;
  }
  return seconds;
}

int status(const std::vector<std::string>& words) {
  bool json = false;
  bool probes = true;
  std::chrono::seconds limit = kDefaultProbeLimit;
  bool limitGiven = false;
  for (auto word = words.begin(); word != words.end(); ++word) {
    if (*word == "--json" && !json) {
      json = true;
    } else if (*word == "--no-probes" && probes) {
      probes = false;
    } else if (*word == "--timeout" && !limitGiven) {
      if (++word == words.end()) {
        writeStderr(kUsage);
        return 2;
      }
      const int seconds = timeoutSeconds(*word);
      if (seconds == 0) return wrongCommandLine("Invalid timeout: " + *word);
      limit = std::chrono::seconds(seconds);
      limitGiven = true;
    } else {
      return wrongCommandLine("Unknown option: " + *word);
    }
  }
  StackStatus stack = readStackStatus();
  if (probes) probeStack(stack, limit);
  if (json) {
    writeJsonLine(statusDocument(stack), 2);
  } else {
    writeStdout(statusTable(stack));
  }
  return statusExitCode(stack);
}

// The action on each of `units`.
int act(const ServiceAction& action, const std::vector<std::string>& units) {
  if (units.empty()) {
    writeStderr(kUsage);
    return 2;
  }
  actOnStackUnits(action, units);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The words after the subcommand; the front end has read the subcommand itself.
  const std::vector<std::string> words(argv + std::min(argc, 2), argv + argc);
  return runFrontEnd({.name = "hostmend",
                      .usage = kUsage,
                      .commands = {{"status", [&words] { return status(words); }},
                                   {"start", [&words] { return act(kStart, words); }},
                                   {"restart", [&words] { return act(kRestart, words); }}}},
                     argc, argv);
}

// hostmend: the hosting stack as it really is, and a start for what crashed. Unlike the
// four repair tools it takes a subcommand with options and further arguments, and exits
// with 3 when something is down.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "front_end.h"
#include "output.h"
#include "stack_actions.h"
#include "stack_status.h"

namespace {

constexpr std::string_view kUsage = "Usage: hostmend [status [--json]|start UNIT...]\n";

int unknownOption(const std::string& word) {
  writeDiagnosticLine("Unknown option: " + word);
  writeStderr(kUsage);
  return 2;
}

int status(const std::vector<std::string>& words) {
  bool json = false;
  for (const auto& word : words) {
    if (word != "--json" || json) return unknownOption(word);
    json = true;
  }
  const StackStatus stack = readStackStatus();
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
                                   {"start", [&words] { return act(kStart, words); }}}},
                     argc, argv);
}

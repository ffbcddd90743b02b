#include "service_report.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace {

// The longest argument that execve passes, counting its terminating NUL (MAX_ARG_STRLEN):
// a longer one fails the exec with E2BIG.
constexpr std::size_t kLongestArgument = std::size_t{32} * 4096;

}  // namespace

std::string lastNonEmptyLine(std::string_view text) {
  while (text.ends_with('\n')) text.remove_suffix(1);
  const size_t newline = text.rfind('\n');
  return std::string(newline == std::string_view::npos ? text : text.substr(newline + 1));
}

bool systemctlReadsAsUnitName(std::string_view unit) {
  // A leading "-" makes an option of it ("-H user@host" acts on another machine), "*", "?"
  // and "[" make a pattern of it that matches every loaded unit, a leading "/" makes a path
  // of it (turned into a mount or device unit), and a NUL byte cuts the argument short at
  // exec, as a name too long for the kernel stops it. Everything else, blanks and an empty
  // name included, reaches systemctl as written.
  // One pass over the bytes: every service action asks this of its unit's name.
  const auto misread = [](char c) { return c == '*' || c == '?' || c == '[' || c == '\0'; };
  return unit.size() < kLongestArgument && !unit.starts_with('-') && !unit.starts_with('/') &&
         std::none_of(unit.begin(), unit.end(), misread);
}

std::string composeMessage(ChildRun run) {
  std::string message = std::move(run.stdoutText);
  if (!run.stderrText.empty()) {
    message += '\n';
    message += run.stderrText;
  }
  if (run.exitCode != 0) message += "\nFinished with exit code " + std::to_string(run.exitCode);
  return message;
}

std::string serviceStatus(std::string_view action, int exitCode) {
  // A successful stop leaves the unit stopped; a failed one leaves it as it was, presumed
  // running. Every other action succeeds by leaving the unit running.
  const bool succeeded = exitCode == 0;
  const bool stopping = action == "stop";
  return succeeded != stopping ? "running" : "stopped";
}

nlohmann::json makeServiceReport(std::string_view action, const std::string& unit, ChildRun run) {
  // The captured text is moved into the report, never copied: it can be large. The elements
  // of a braced list are evaluated in order, so the status is read before the move.
  return {{"name", unit},
          {"status", serviceStatus(action, run.exitCode)},
          {"message", composeMessage(std::move(run))}};
}

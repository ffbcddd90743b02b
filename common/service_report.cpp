#include "service_report.h"

#include <cstddef>
#include <utility>

#include "output.h"

namespace {

const char kSystemctl[] = "/bin/systemctl";

// The longest argument that execve passes, counting its terminating NUL (MAX_ARG_STRLEN):
// a longer one fails the exec with E2BIG.
constexpr std::size_t kLongestArgument = std::size_t{32} * 4096;

}  // namespace

bool systemctlReadsAsUnitName(std::string_view unit) {
  // A leading "-" makes an option of it ("-H user@host" acts on another machine), "*", "?"
  // and "[" make a pattern of it that matches every loaded unit, a leading "/" makes a path
  // of it (turned into a mount or device unit), and a NUL byte cuts the argument short at
  // exec, as a name too long for the kernel stops it. Everything else, blanks and an empty
  // name included, reaches systemctl as written.
  return unit.size() < kLongestArgument && !unit.starts_with('-') && !unit.starts_with('/') &&
         unit.find_first_of(std::string_view("*?[\0", 4)) == std::string_view::npos;
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

std::string serviceStatus(const std::string& action, int exitCode) {
  // A successful stop leaves the unit stopped; a failed one leaves it as it was, presumed
  // running. Every other action succeeds by leaving the unit running.
  const bool succeeded = exitCode == 0;
  const bool stopping = action == "stop";
  return succeeded != stopping ? "running" : "stopped";
}

nlohmann::json makeServiceReport(const std::string& action, const std::string& unit, ChildRun run) {
  // The captured text is moved into the report, never copied: it can be large. The elements
  // of a braced list are evaluated in order, so the status is read before the move.
  return {{"name", unit},
          {"status", serviceStatus(action, run.exitCode)},
          {"message", composeMessage(std::move(run))}};
}

nlohmann::json runServiceAction(const std::string& action, const std::string& unit) {
  if (!systemctlReadsAsUnitName(unit)) {
    return {{"name", unit},
            {"status", "stopped"},
            {"message", "Not restarted: systemctl would not read this name as a unit name"}};
  }
  return makeServiceReport(action, unit, runCommand(kSystemctl, {action, unit}, CaptureMode::Both));
}

void printServiceReport(const std::string& action, const std::string& unit) {
  writeJsonLine(runServiceAction(action, unit));
}

void printServiceReports(const std::string& action, const std::vector<std::string>& units) {
  nlohmann::json reports;  // null until the first report arrives
  for (const auto& unit : units) reports.push_back(runServiceAction(action, unit));
  writeJsonLine(std::move(reports), 2);
}

#include "service_report.h"

#include <utility>

#include "output.h"

namespace {

const char kSystemctl[] = "/bin/systemctl";

}  // namespace

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
  std::string status = serviceStatus(action, run.exitCode);
  // The captured text is moved into the report, never copied: it can be large.
  return {
      {"name", unit}, {"status", std::move(status)}, {"message", composeMessage(std::move(run))}};
}

nlohmann::json runServiceAction(const std::string& action, const std::string& unit) {
  return makeServiceReport(action, unit, runCommand(kSystemctl, {action, unit}, CaptureMode::Both));
}

void printServiceReport(const std::string& action, const std::string& unit) {
  writeJsonLine(runServiceAction(action, unit));
}

void printServiceReports(const std::string& action, const std::vector<std::string>& units) {
  nlohmann::json reports;  // null until the first report arrives
  for (const auto& unit : units) reports.push_back(runServiceAction(action, unit));
  writeJsonLine(reports, 2);
}

#include "service_action.h"

#include <array>
#include <cstddef>
#include <span>
#include <utility>

#include "output.h"
#include "run_command.h"
#include "service_report.h"
#include "unit_name.h"

namespace {

const char kSystemctl[] = "/bin/systemctl";
const char kMisread[] = "systemctl would not read this name as a unit name";

void recordServiceAction(const ServiceAction& action, const std::string& unit, int exitCode,
                         std::string_view error) {
  const std::string status = serviceStatus(action.word, exitCode);
  const std::string code = std::to_string(exitCode);
  const std::string completed = systemctlUnitName(unit);
  // The fields as they apply: the empty name is no unit at all to systemctl.
  std::array<JournalField, 6> fields;
  std::size_t count = 0;
  fields[count++] = {"HOSTMEND_ACTION", action.word};
  fields[count++] = {"HOSTMEND_UNIT", unit};
  if (!completed.empty()) fields[count++] = {"OBJECT_SYSTEMD_UNIT", completed};
  fields[count++] = {"HOSTMEND_EXIT_CODE", code};
  fields[count++] = {"HOSTMEND_STATUS", status};
  if (!error.empty()) fields[count++] = {"HOSTMEND_ERROR", error};
  const std::string message =
      std::string(action.word) + " " + unit + ": exit code " + code + ", " + status;
  sendJournalEntry(JournalKind::ServiceAction,
                   exitCode == 0 ? action.successPriority : action.failurePriority, message,
                   std::span(fields.data(), count));
}

}  // namespace

nlohmann::json refuseServiceAction(const ServiceAction& action, const std::string& unit,
                                   std::string_view reason) {
  const std::string message = std::string(action.notDone).append(": ").append(reason);
  // A name that systemctl reads as a unit's also files the entry under that unit.
  const std::string completed =
      systemctlReadsAsUnitName(unit) ? systemctlUnitName(unit) : std::string();
  std::array<JournalField, 4> fields;
  std::size_t count = 0;
  fields[count++] = {"HOSTMEND_ACTION", action.word};
  fields[count++] = {"HOSTMEND_UNIT", unit};
  if (!completed.empty()) fields[count++] = {"OBJECT_SYSTEMD_UNIT", completed};
  fields[count++] = {"HOSTMEND_ERROR", message};
  sendJournalEntry(JournalKind::NameRefused, kPriorityWarning,
                   std::string("refused ").append(unit).append(": ").append(reason),
                   std::span(fields.data(), count));
  return {{"name", unit}, {"status", "stopped"}, {"message", message}};
}

nlohmann::json runServiceAction(const ServiceAction& action, const std::string& unit) {
  if (!systemctlReadsAsUnitName(unit)) {
    return refuseServiceAction(action, unit, kMisread);
  }
  ChildRun run = runCommand(kSystemctl, {std::string(action.word), unit}, CaptureMode::Both);
  const int exitCode = run.exitCode;
  const std::string error =
      action.recordsFailureLine && exitCode != 0 ? lastNonEmptyLine(run.stderrText) : std::string();
  nlohmann::json report = makeServiceReport(action.word, unit, std::move(run));
  recordServiceAction(action, unit, exitCode, error);
  return report;
}

void printServiceReport(const ServiceAction& action, const std::string& unit) {
  writeJsonLine(runServiceAction(action, unit));
}

void printServiceReports(const ServiceAction& action, const std::vector<std::string>& units) {
  nlohmann::json reports;  // null until the first report arrives
  for (const auto& unit : units) reports.push_back(runServiceAction(action, unit));
  writeJsonLine(std::move(reports), 2);
}

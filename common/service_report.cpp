#include "service_report.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>
#include <string_view>
#include <utility>

#include "journal.h"
#include "output.h"
#include "unit_name.h"

namespace {

const char kSystemctl[] = "/bin/systemctl";
const char kMisread[] = "systemctl would not read this name as a unit name";
const char kRefusal[] = "Not restarted: systemctl would not read this name as a unit name";

// A check's outcome is data (debug); a restart that failed is a warning.
int servicePriority(const std::string& action, int exitCode) {
  if (action == "status") return kPriorityDebug;
  return exitCode == 0 ? kPriorityInfo : kPriorityWarning;
}

void recordServiceAction(const std::string& action, const std::string& unit, int exitCode,
                         std::string_view error) {
  const std::string status = serviceStatus(action, exitCode);
  const std::string code = std::to_string(exitCode);
  const std::string completed = systemctlUnitName(unit);
  // The fields as they apply: the empty name is no unit at all to systemctl.
  std::array<JournalField, 6> fields;
  std::size_t count = 0;
  fields[count++] = {"HOSTMEND_ACTION", action};
  fields[count++] = {"HOSTMEND_UNIT", unit};
  if (!completed.empty()) fields[count++] = {"OBJECT_SYSTEMD_UNIT", completed};
  fields[count++] = {"HOSTMEND_EXIT_CODE", code};
  fields[count++] = {"HOSTMEND_STATUS", status};
  if (!error.empty()) fields[count++] = {"HOSTMEND_ERROR", error};
  const std::string message = action + " " + unit + ": exit code " + code + ", " + status;
  sendJournalEntry(JournalKind::ServiceAction, servicePriority(action, exitCode), message,
                   std::span(fields.data(), count));
}

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

nlohmann::json refuseServiceAction(const std::string& action, const std::string& unit,
                                   const Refusal& refusal) {
  // A name that systemctl reads as a unit's also files the entry under that unit.
  const std::string completed =
      systemctlReadsAsUnitName(unit) ? systemctlUnitName(unit) : std::string();
  std::array<JournalField, 4> fields;
  std::size_t count = 0;
  fields[count++] = {"HOSTMEND_ACTION", action};
  fields[count++] = {"HOSTMEND_UNIT", unit};
  if (!completed.empty()) fields[count++] = {"OBJECT_SYSTEMD_UNIT", completed};
  fields[count++] = {"HOSTMEND_ERROR", refusal.message};
  sendJournalEntry(JournalKind::NameRefused, kPriorityWarning,
                   std::string("refused ").append(unit).append(": ").append(refusal.reason),
                   std::span(fields.data(), count));
  return {{"name", unit}, {"status", "stopped"}, {"message", refusal.message}};
}

nlohmann::json runServiceAction(const std::string& action, const std::string& unit) {
  if (!systemctlReadsAsUnitName(unit)) {
    return refuseServiceAction(action, unit, {.reason = kMisread, .message = kRefusal});
  }
  ChildRun run = runCommand(kSystemctl, {action, unit}, CaptureMode::Both);
  const int exitCode = run.exitCode;
  // Only a failed change says why; a status text is already in the journal.
  const std::string error =
      action != "status" && exitCode != 0 ? lastNonEmptyLine(run.stderrText) : std::string();
  nlohmann::json report = makeServiceReport(action, unit, std::move(run));
  recordServiceAction(action, unit, exitCode, error);
  return report;
}

void printServiceReport(const std::string& action, const std::string& unit) {
  writeJsonLine(runServiceAction(action, unit));
}

void printServiceReports(const std::string& action, const std::vector<std::string>& units) {
  nlohmann::json reports;  // null until the first report arrives
  for (const auto& unit : units) reports.push_back(runServiceAction(action, unit));
  writeJsonLine(std::move(reports), 2);
}

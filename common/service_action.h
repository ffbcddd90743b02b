// Service manager actions on systemd units: running them, recording them in the journal
// and printing their reports.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "journal.h"

// One action the tools take, with all that follows from it; chosen where a tool decides
// what to do, and never told apart by its word again.
struct ServiceAction {
  // The word given to systemctl.
  std::string_view word;
  // How the report of the action not taken begins ("Not started").
  std::string_view notDone;
  // The priorities of its journal entry when systemctl exits with 0, and otherwise.
  int successPriority;
  int failurePriority;
  // Whether a failure's entry records systemctl's last line on standard error.
  bool recordsFailureLine;
};

// A check's outcome is data; a change that failed is a warning, and says why.
inline constexpr ServiceAction kStatus{"status", "Not checked", kPriorityDebug, kPriorityDebug,
                                       false};
inline constexpr ServiceAction kStart{"start", "Not started", kPriorityInfo, kPriorityWarning,
                                      true};
inline constexpr ServiceAction kRestart{"restart", "Not restarted", kPriorityInfo, kPriorityWarning,
                                        true};
inline constexpr ServiceAction kTryRestart{"try-restart", "Not restarted", kPriorityInfo,
                                           kPriorityWarning, true};

// The report of `action` not taken on `unit`, status "stopped" and the message
// "<notDone>: <reason>", and its journal entry, which gives `reason`.
nlohmann::json refuseServiceAction(const ServiceAction& action, const std::string& unit,
                                   std::string_view reason);

// Runs `/bin/systemctl <action> <unit>`, records it in the journal and returns its report.
// A unit that systemctl would not read literally is not passed to it: its report says so,
// status "stopped".
nlohmann::json runServiceAction(const ServiceAction& action, const std::string& unit);

// One report, printed as one compact JSON line.
void printServiceReport(const ServiceAction& action, const std::string& unit);

// One action per unit, in order; all reports printed together once the last has ended, as
// a JSON array indented by 2 ("null" for an empty list).
void printServiceReports(const ServiceAction& action, const std::vector<std::string>& units);

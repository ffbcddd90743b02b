// Service manager actions on systemd units, and the JSON reports the panel reads.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "run_command.h"

// The command's standard output, then its standard error after a newline, then the exit
// code when it is not 0. Nothing is trimmed. The texts are taken over, not copied.
std::string composeMessage(ChildRun run);

// The last line of `text` that is not empty: where systemctl says why it failed.
std::string lastNonEmptyLine(std::string_view text);

// "running" or "stopped", from the exit code and the action word alone.
std::string serviceStatus(const std::string& action, int exitCode);

// The report object {"message", "name", "status"} for one finished action; the texts of
// `run` are moved into it.
nlohmann::json makeServiceReport(const std::string& action, const std::string& unit, ChildRun run);

// Whether systemctl takes `unit` literally as one unit name, and not as an option, a
// pattern or a path, and whether the kernel passes it to systemctl at all.
bool systemctlReadsAsUnitName(std::string_view unit);

// Why an action is not taken on a unit.
struct Refusal {
  // The reason, as the journal entry gives it ("not a unit of this server's hosting stack").
  std::string_view reason;
  // The report's message, what the caller reads ("Not started: ...").
  std::string_view message;
};

// The report of an action not taken on `unit`, status "stopped", and its journal entry.
nlohmann::json refuseServiceAction(const std::string& action, const std::string& unit,
                                   const Refusal& refusal);

// Runs `/bin/systemctl <action> <unit>` and returns its report. A unit that systemctl
// would not read literally is not passed to it: its report says so, status "stopped".
nlohmann::json runServiceAction(const std::string& action, const std::string& unit);

// One report, printed as one compact JSON line.
void printServiceReport(const std::string& action, const std::string& unit);

// One action per unit, in order; all reports printed together once the last has ended, as
// a JSON array indented by 2 ("null" for an empty list).
void printServiceReports(const std::string& action, const std::vector<std::string>& units);

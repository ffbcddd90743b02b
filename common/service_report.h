// The JSON report the panel reads of one service manager action, made from its finished run.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "run_command.h"

// The command's standard output, then its standard error after a newline, then the exit
// code when it is not 0. Nothing is trimmed. The texts are taken over, not copied.
std::string composeMessage(ChildRun run);

// The last line of `text` that is not empty: where systemctl says why it failed.
std::string lastNonEmptyLine(std::string_view text);

// "running" or "stopped", from the exit code and the action word alone: the word "stop"
// reverses the rule.
std::string serviceStatus(std::string_view action, int exitCode);

// The report object {"message", "name", "status"} for one finished action; the texts of
// `run` are moved into it.
nlohmann::json makeServiceReport(std::string_view action, const std::string& unit, ChildRun run);

// Whether systemctl takes `unit` literally as one unit name, and not as an option, a
// pattern or a path, and whether the kernel passes it to systemctl at all.
bool systemctlReadsAsUnitName(std::string_view unit);

// Writing the tools' results and diagnostics.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// Writes all of `text` to standard output, unbuffered. A result that cannot be delivered is
// a failure: raises std::system_error "write error: <reason>".
void writeStdout(std::string_view text);

// Writes `text` to standard error; nothing can be done about a failure there.
void writeStderr(std::string_view text);

// One diagnostic line on standard error.
void writeDiagnosticLine(std::string_view line);

// Serialises `value` compact (indent < 0) or indented, replacing bytes that are not valid
// UTF-8 with U+FFFD so that the caller always gets one complete, valid JSON document.
std::string toJsonText(const nlohmann::json& value, int indent = -1);

// Writes `value` as toJsonText does, and a newline, to standard output like writeStdout.
// The text is handed on in pieces as it is made, never held whole: an ordinary result
// still leaves in one write, and a large one costs no second copy of itself.
void writeJsonLine(const nlohmann::json& value, int indent = -1);

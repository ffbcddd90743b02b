// Writing the tools' results and diagnostics.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// Writes all of `text` to standard output, unbuffered, as one result. A result that cannot
// be delivered is a failure: raises std::system_error "write error: <reason>". Where
// standard output is a regular file not opened for appending, what was written of it is
// cut off again first.
void writeStdout(std::string_view text);

// Writes `text` to standard error; nothing can be done about a failure there.
void writeStderr(std::string_view text);

// One diagnostic line on standard error.
void writeDiagnosticLine(std::string_view line);

// Serialises `value` compact (indent <= 0) or indented by `indent` blanks, with each
// ill-formed UTF-8 sequence in its strings replaced by U+FFFD, so that the caller always
// gets one complete, valid JSON document: the text of the library's dump() with its
// replacing error handler.
std::string toJsonText(const nlohmann::json& value, int indent = -1);

// Writes `value` as toJsonText does, and a newline, to standard output as one result, like
// writeStdout. The text is handed on in pieces as it is made, never held whole: an ordinary
// result still leaves in one write, and a large one costs no second copy of itself. Then
// `value` is freed without allocating anything.
void writeJsonLine(nlohmann::json value, int indent = -1);

// Discovery of the PHP-FPM services through the panel's PHP handler registry tool.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Runs `interpbook --list-json` and returns the FPM service names of its document. Every
// failure is raised as an exception derived from std::exception; the tool's own standard
// error goes straight to ours.
std::vector<std::string> listFpmServices();

// The line that says why the list could not be had, `error` being the failure's text.
std::string fpmListFailureLine(std::string_view error);

// Tells the journal and standard error that the list could not be had, for a tool that
// acts on the web servers all the same.
void reportFpmListFailure(std::string_view error);

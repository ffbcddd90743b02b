// Discovery of the PHP-FPM services through the panel's PHP handler registry tool.
#pragma once

#include <string>
#include <vector>

// Runs `interpbook --list-json` and returns the FPM service names of its document. Every
// failure is raised as an exception derived from std::exception; the tool's own standard
// error goes straight to ours.
std::vector<std::string> listFpmServices();

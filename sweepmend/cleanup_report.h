// The cleanup's result as the panel reads it.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// null when nothing was removed, otherwise {"clean_paths":[...]} with the paths in order.
nlohmann::json cleanupReport(std::vector<std::string> removedPaths);

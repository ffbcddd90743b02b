// The cleanup's result as the panel reads it.
#pragma once

#include <string>
#include <vector>

// "null" when nothing was removed, otherwise {"clean_paths":[...]} with the paths in order;
// one compact line of valid JSON (bytes that are not UTF-8 replaced by U+FFFD), without
// the final newline.
std::string cleanupReportText(std::vector<std::string> removedPaths);

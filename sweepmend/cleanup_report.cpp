#include "cleanup_report.h"

#include <nlohmann/json.hpp>

#include "output.h"

std::string cleanupReportText(const std::vector<std::string>& removedPaths) {
  // Stays null, printed as "null", unless a path was removed.
  nlohmann::json report;
  for (const std::string& path : removedPaths) report["clean_paths"].push_back(path);
  return toJsonText(report);
}

#include "cleanup_report.h"

#include <utility>

nlohmann::json cleanupReport(std::vector<std::string> removedPaths) {
  // Stays null, printed as "null", unless a path was removed.
  nlohmann::json report;
  for (std::string& path : removedPaths) report["clean_paths"].push_back(std::move(path));
  return report;
}

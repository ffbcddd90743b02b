#include "cache_cleanup.h"

#include <array>
#include <string>
#include <system_error>

#include <nlohmann/json.hpp>

#include "match_removal.h"
#include "output.h"
#include "pattern_expansion.h"

namespace {

// Processed in this order. A pattern ending in "/" matches the location itself; "*" matches
// the temporary directory's entries but not the names beginning with "." nor the directory.
const std::array kCleanupPatterns = {"/root/veltrosin/", "/var/cache/veltrosin_installer/",
                                     "/usr/local/ovk/tmp/*", "/var/cache/apt/", "/var/cache/yum/"};

}  // namespace

void cleanDiskSpace() {
  // Stays null, printed as "null", until the first removal succeeds.
  nlohmann::json report;
  for (const char* pattern : kCleanupPatterns) {
    for (const std::string& match : expandPattern(pattern)) {
      if (const std::error_code error = removeMatch(match)) {
        writeDiagnosticLine(error.message());
      } else {
        report["clean_paths"].push_back(match);
      }
    }
  }
  writeJsonLine(report);
}

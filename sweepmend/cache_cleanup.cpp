#include "cache_cleanup.h"

#include <array>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "cleanup_report.h"
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
  std::vector<std::string> removed;
  for (const char* pattern : kCleanupPatterns) {
    for (std::string& match : expandPattern(pattern)) {
      if (const std::error_code error = removeMatch(match)) {
        writeDiagnosticLine(error.message());
      } else {
        removed.push_back(std::move(match));
      }
    }
  }
  writeJsonLine(cleanupReport(std::move(removed)));
}

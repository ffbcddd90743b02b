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

struct CleanupPattern {
  const char* pattern;
  // A location is cleaned on whatever is mounted there (it may be a mount of its own); an
  // entry of the temporary directory that is a mount point is not the panel's to empty.
  MountedMatch mounted;
};

// Processed in this order. A pattern ending in "/" matches the location itself; "*" matches
// the temporary directory's entries but not the names beginning with "." nor the directory.
const std::array<CleanupPattern, 5> kCleanupPatterns = {{
    {"/root/veltrosin/", MountedMatch::Enter},
    {"/var/cache/veltrosin_installer/", MountedMatch::Enter},
    {"/usr/local/ovk/tmp/*", MountedMatch::Keep},
    {"/var/cache/apt/", MountedMatch::Enter},
    {"/var/cache/yum/", MountedMatch::Enter},
}};

}  // namespace

void cleanDiskSpace() {
  std::vector<std::string> removed;
  for (const auto& [pattern, mounted] : kCleanupPatterns) {
    for (std::string& match : expandPattern(pattern)) {
      if (const std::error_code error = removeMatch(match, mounted)) {
        writeDiagnosticLine(error.message());
      } else {
        removed.push_back(std::move(match));
      }
    }
  }
  writeJsonLine(cleanupReport(std::move(removed)));
}

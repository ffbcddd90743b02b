#include "cache_cleanup.h"

#include <array>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "apt_lock.h"
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
  // The lock file of the package manager that owns the location, relative to it: held
  // while the location is removed, so that the packages it is fetching or installing stay,
  // and unlinked last, so that one starting meanwhile still finds it held.
  const char* lockFile = "";
};

// Processed in this order. A pattern ending in "/" matches the location itself; "*" matches
// the temporary directory's entries but not the names beginning with "." nor the directory.
const std::array<CleanupPattern, 5> kCleanupPatterns = {{
    {"/root/veltrosin/", MountedMatch::Enter},
    {"/var/cache/veltrosin_installer/", MountedMatch::Enter},
    {"/usr/local/ovk/tmp/*", MountedMatch::Keep},
    {"/var/cache/apt/", MountedMatch::Enter, "archives/lock"},
    {"/var/cache/yum/", MountedMatch::Enter},
}};

}  // namespace

void cleanDiskSpace() {
  std::vector<std::string> removed;
  for (const auto& [pattern, mounted, lockFile] : kCleanupPatterns) {
    for (std::string& match : expandPattern(pattern)) {
      HeldLock lock;
      std::error_code error;
      if (*lockFile != '\0') error = takeLock(std::filesystem::path(match) / lockFile, lock);
      if (!error) error = removeMatch(match, mounted, lock.held() ? lockFile : "");
      if (error) {
        writeDiagnosticLine(error.message());
      } else {
        removed.push_back(std::move(match));
      }
    }
  }
  writeJsonLine(cleanupReport(std::move(removed)));
}

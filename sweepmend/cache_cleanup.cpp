#include "cache_cleanup.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "apt_lock.h"
#include "journal.h"
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

// At most this many matches left are recorded one by one, so that a run writes a bounded
// number of entries (journald's rate limit, its socket's queue) whatever the temporary
// directory holds; one more entry says how many were not.
constexpr int kMatchesLeftRecorded = 100;

// The location a pattern cleans: the directory itself, or the one whose entries it matches.
std::string locationOf(std::string_view pattern) {
  if (pattern.ends_with("/*")) pattern.remove_suffix(2);
  if (pattern.ends_with('/')) pattern.remove_suffix(1);
  return std::string(pattern);
}

struct Tally {
  std::uint64_t entriesRemoved = 0;
  std::uint64_t bytesFreed = 0;
};

std::string removedAndFreed(const Tally& tally) {
  return std::to_string(tally.entriesRemoved) + " entries removed, " +
         std::to_string(tally.bytesFreed) + " bytes freed";
}

void recordMatchLeft(const std::string& match, const std::string& reason, int& matchesLeft) {
  if (++matchesLeft > kMatchesLeftRecorded) return;
  sendJournalEntry(
      JournalKind::MatchLeft, kPriorityWarning, "left " + match + ": " + reason,
      {{"HOSTMEND_ACTION", "remove"}, {"HOSTMEND_PATH", match}, {"HOSTMEND_ERROR", reason}});
}

void recordLocation(const std::string& location, const Tally& tally) {
  const std::string entries = std::to_string(tally.entriesRemoved);
  const std::string bytes = std::to_string(tally.bytesFreed);
  sendJournalEntry(JournalKind::LocationCleaned, kPriorityInfo,
                   "cleaned " + location + ": " + removedAndFreed(tally),
                   {{"HOSTMEND_ACTION", "remove"},
                    {"HOSTMEND_PATH", location},
                    {"HOSTMEND_ENTRIES_REMOVED", entries},
                    {"HOSTMEND_BYTES_FREED", bytes}});
}

void recordFinished(const Tally& total, int matchesLeft) {
  if (matchesLeft > kMatchesLeftRecorded) {
    const int unrecorded = matchesLeft - kMatchesLeftRecorded;
    sendJournalEntry(JournalKind::MatchLeft, kPriorityWarning,
                     std::to_string(unrecorded) + " more matches left, not recorded one by one",
                     {{"HOSTMEND_ACTION", "remove"}});
  }
  const std::string entries = std::to_string(total.entriesRemoved);
  const std::string bytes = std::to_string(total.bytesFreed);
  sendJournalEntry(JournalKind::CleanupFinished, kPriorityInfo,
                   "cleanup finished: " + removedAndFreed(total) + ", " +
                       std::to_string(matchesLeft) + " matches left",
                   {{"HOSTMEND_ACTION", "remove"},
                    {"HOSTMEND_ENTRIES_REMOVED", entries},
                    {"HOSTMEND_BYTES_FREED", bytes}});
}

// null, printed as "null", when nothing was removed, otherwise {"clean_paths":[...]} with
// the paths in order.
nlohmann::json cleanupReport(std::vector<std::string> removedPaths) {
  nlohmann::json report;
  for (std::string& path : removedPaths) report["clean_paths"].push_back(std::move(path));
  return report;
}

}  // namespace

void cleanDiskSpace() {
  std::vector<std::string> removed;
  Tally total;
  int matchesLeft = 0;
  for (const auto& [pattern, mounted, lockFile] : kCleanupPatterns) {
    Tally location;
    for (std::string& match : expandPattern(pattern)) {
      Descriptor lock;
      std::error_code error;
      if (*lockFile != '\0') error = takeLock(std::filesystem::path(match) / lockFile, lock);
      if (!error) {
        const RemovalOutcome outcome = removeMatch(match, mounted, lock.valid() ? lockFile : "");
        location.entriesRemoved += outcome.entriesRemoved;
        location.bytesFreed += outcome.bytesFreed;
        error = outcome.error;
      }
      if (error) {
        const std::string reason = error.message();
        recordMatchLeft(match, reason, matchesLeft);
        writeDiagnosticLine(reason);
      } else {
        removed.push_back(std::move(match));
      }
    }
    recordLocation(locationOf(pattern), location);
    total.entriesRemoved += location.entriesRemoved;
    total.bytesFreed += location.bytesFreed;
  }
  // Every entry is sent before the result, so that nothing follows a written result.
  recordFinished(total, matchesLeft);
  writeJsonLine(cleanupReport(std::move(removed)));
}

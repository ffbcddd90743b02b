#include "match_removal.h"

#include <filesystem>

std::error_code removeMatch(const std::string& match) {
  // The expansion marks a link to a directory with "/" just as it marks a directory, and a
  // path ending in "/" makes the kernel resolve a final link even under O_NOFOLLOW: the
  // removal would empty the link's target, wherever it lies. Without the "/" the name is
  // taken as it is: a link is unlinked; a directory is walked with each entry opened
  // relative to its parent, never through a link. Dropping the mark unconditionally, not
  // only after looking, also holds when the name is swapped for a link in between.
  std::string name = match;
  if (name.size() > 1 && name.back() == '/') name.pop_back();
  std::error_code error;
  std::filesystem::remove_all(name, error);
  return error;
}

// Removing one cleanup match without ever leaving it through a symbolic link.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

struct RemovalOutcome {
  // Nothing when the match is gone, otherwise the reason of the first failure inside it.
  std::error_code error;
  // The entries this removal took away, the match itself included.
  std::uint64_t entriesRemoved = 0;
};

// Removes `match`, as the expansion wrote it, with everything under it. A symbolic link,
// marked with "/" or not and at any depth, is removed as a link; what it points to stays.
// Every entry that can be removed is removed, whatever fails beside it, and an entry that
// vanishes meanwhile counts as removed (but is not counted).
RemovalOutcome removeMatch(const std::string& match);

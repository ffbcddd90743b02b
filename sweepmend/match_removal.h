// Removing one cleanup match without ever leaving it through a symbolic link or a mount.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

// What to do when the match itself is a mount point: a listed location is cleaned on
// whatever is mounted there; an entry of a listed directory is left alone.
enum class MountedMatch { Enter, Keep };

struct RemovalOutcome {
  // Nothing when the match is gone, otherwise the reason of the first failure inside it.
  std::error_code error;
  // The entries this removal took away, the match itself included, and the space they
  // gave back: the allocated blocks of every inode whose last link went, each once.
  std::uint64_t entriesRemoved = 0;
  std::uint64_t bytesFreed = 0;
};

// Removes `match`, as the expansion wrote it, with everything under it. A symbolic link,
// marked with "/" or not and at any depth, is removed as a link; what it points to stays.
// A mount point below the match is neither entered nor removed (EBUSY). Every entry that
// can be removed is removed, whatever fails beside it, and an entry that vanishes meanwhile
// counts as removed (but is not counted). The entry at `last`, a path relative to the match
// (none when empty), is removed after every other entry and before the directories that
// hold it.
RemovalOutcome removeMatch(const std::string& match, MountedMatch mounted,
                           std::string_view last = {});

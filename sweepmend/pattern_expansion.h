// Shell wildcard expansion of a fixed pattern.
#pragma once

#include <string>
#include <vector>

// The paths that `pattern` matches, sorted by their bytes, directories (and links to
// directories) marked with a trailing "/". A directory that cannot be read contributes
// whatever was found before it, possibly nothing; that is not an error. Raises
// std::bad_alloc when the expansion runs out of memory.
std::vector<std::string> expandPattern(const char* pattern);

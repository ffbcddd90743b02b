#include "pattern_expansion.h"

#include <glob.h>

#include <memory>
#include <new>

std::vector<std::string> expandPattern(const char* pattern) {
  glob_t found{};
  // The result is examined, not the return code: a directory that cannot be read leaves
  // the matches found so far. Running out of memory ends the run like anywhere else.
  // We never call setlocale, so glob's collation is the "C" locale's: byte order.
  const int outcome = ::glob(pattern, GLOB_MARK, nullptr, &found);
  const std::unique_ptr<glob_t, decltype(&::globfree)> release(&found, ::globfree);
  if (outcome == GLOB_NOSPACE) throw std::bad_alloc();
  if (found.gl_pathc == 0) return {};
  return {found.gl_pathv, found.gl_pathv + found.gl_pathc};
}

#include "pattern_expansion.h"

#include <glob.h>

#include <memory>

std::vector<std::string> expandPattern(const char* pattern) {
  glob_t found{};
  // The result is examined, not the return code: a failure leaves the matches found so far.
  // We never call setlocale, so glob's collation is the "C" locale's: byte order.
  ::glob(pattern, GLOB_MARK, nullptr, &found);
  const std::unique_ptr<glob_t, decltype(&::globfree)> release(&found, ::globfree);
  if (found.gl_pathc == 0) return {};
  return {found.gl_pathv, found.gl_pathv + found.gl_pathc};
}

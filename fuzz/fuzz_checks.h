// Checks shared by the fuzz targets. A failed check aborts, which libFuzzer reports as a
// crash and keeps the input.
#pragma once

#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

inline void require(bool condition) {
  if (!condition) std::abort();
}

inline bool isUtf8(const std::string& text) {
  try {
    (void)nlohmann::json(text).dump();  // the strict serialiser refuses anything else
    return true;
  } catch (const nlohmann::json::type_error&) {
    return false;
  }
}

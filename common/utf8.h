// UTF-8 as Unicode defines it well-formed.
#pragma once

#include <cstddef>
#include <string_view>

// What `text` (not empty) starts with: a well-formed character, or an ill-formed sequence
// to be taken as one unit: its lead byte and the continuation bytes that fit it, up to the
// first that does not (Unicode's "maximal subpart"; a byte that cannot lead stands alone).
struct Utf8Unit {
  std::size_t length = 0;
  bool wellFormed = false;
};
Utf8Unit firstUtf8Unit(std::string_view text);

// The datagram of one entry in the journal's native protocol.
#pragma once

#include <sys/un.h>

#include <cstddef>
#include <span>
#include <string_view>

// The most a field's value carries; what is longer is cut.
inline constexpr std::size_t kJournalValueCap = 2048;

// A field names its value, never owns it: an entry is sent while its values are alive.
struct JournalField {
  std::string_view name;
  std::string_view value;
};

// `value` cut to at most kJournalValueCap bytes. Where the cut would split a well-formed
// UTF-8 character, the whole character goes, so that a text stays text.
std::string_view capJournalValue(std::string_view value);

// Sends `fields`, each value capped, as one datagram on the socket `fd` to `address` (null
// for a connected socket), without waiting; false when it did not go. A field is
// "NAME=value\n", or, for a value holding a newline, "NAME\n", the value's length as 64-bit
// little-endian, the value, "\n". Names and values are handed to the kernel where they lie.
bool sendJournalFields(int fd, const sockaddr_un* address, std::span<const JournalField> fields);

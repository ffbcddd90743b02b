// The datagram of one entry in the journal's native protocol.
#pragma once

#include <cstddef>
#include <span>
#include <string>
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

// The most bytes that one field takes, as writeJournalField writes it.
std::size_t journalFieldRoom(std::string_view name, std::string_view value);

// Writes one field at `out`, which has journalFieldRoom bytes of room, as encodeJournalEntry
// writes it; returns the end of what it wrote.
char* writeJournalField(char* out, std::string_view name, std::string_view value);

// The fields as one datagram: "NAME=value\n" for a value that is one line of text, and the
// binary-safe form "NAME\n", the length as 64-bit little-endian, the bytes, "\n" for a value
// holding a newline, a NUL byte or bytes that are not UTF-8. Each value is capped first.
std::string encodeJournalEntry(std::span<const JournalField> fields);

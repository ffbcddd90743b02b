#include "journal_entry.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// The length of the well-formed UTF-8 character at the start of `text`, or 0.
std::size_t utf8CharacterLength(std::string_view text) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;  // the range the second byte must fall in
  unsigned char high = 0xbf;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) low = 0xa0;   // overlong
    if (lead == 0xed) high = 0x9f;  // surrogates
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) low = 0x90;   // overlong
    if (lead == 0xf4) high = 0x8f;  // past U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xbf) return 0;
  }
  return length;
}

// Whether none of the eight bytes of `word` is 0, a newline or above 0x7f: plain ASCII text.
bool isPlainAsciiWord(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHighs = 0x8080808080808080;
  const auto hasZeroByte = [](std::uint64_t w) { return ((w - kOnes) & ~w & kHighs) != 0; };
  return (word & kHighs) == 0 && !hasZeroByte(word) && !hasZeroByte(word ^ (kOnes * '\n'));
}

// Whether `value` can go as "NAME=value": UTF-8 with no newline and no NUL byte. Every
// value of every entry goes through here: plain ASCII is taken eight bytes at a time.
bool isOneLineOfText(std::string_view value) {
  for (std::size_t i = 0; i < value.size();) {
    if (std::uint64_t word = 0; value.size() >= sizeof word) {
      // The last word of a value ends at its end, overlapping bytes already checked.
      const std::size_t at = std::min(i, value.size() - sizeof word);
      std::memcpy(&word, value.data() + at, sizeof word);
      if (isPlainAsciiWord(word)) {
        i = at + sizeof word;
        continue;
      }
    }
    const auto byte = static_cast<unsigned char>(value[i]);
    if (byte < 0x80) {
      if (byte == '\n' || byte == '\0') return false;
      ++i;
      continue;
    }
    const std::size_t length = utf8CharacterLength(value.substr(i));
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace

std::string_view capJournalValue(std::string_view value) {
  if (value.size() <= kJournalValueCap) return value;
  // A character is at most four bytes: one that the cut splits starts in the three before.
  for (std::size_t start = kJournalValueCap - 1; start + 3 >= kJournalValueCap; --start) {
    const auto byte = static_cast<unsigned char>(value[start]);
    if ((byte & 0xc0) == 0x80) continue;  // a continuation byte: look further back
    const std::size_t length = utf8CharacterLength(value.substr(start));
    if (length != 0 && start + length > kJournalValueCap) return value.substr(0, start);
    break;
  }
  return value.substr(0, kJournalValueCap);
}

std::size_t journalFieldRoom(std::string_view name, std::string_view value) {
  return name.size() + 10 + std::min(value.size(), kJournalValueCap);
}

char* writeJournalField(char* out, std::string_view name, std::string_view value) {
  value = capJournalValue(value);
  std::memcpy(out, name.data(), name.size());
  out += name.size();
  if (isOneLineOfText(value)) {
    *out++ = '=';
  } else {
    *out++ = '\n';
    for (int i = 0; i < 8; ++i) *out++ = static_cast<char>((value.size() >> (8 * i)) & 0xff);
  }
  std::memcpy(out, value.data(), value.size());
  out += value.size();
  *out++ = '\n';
  return out;
}

std::string encodeJournalEntry(std::span<const JournalField> fields) {
  std::size_t room = 0;
  for (const auto& field : fields) room += journalFieldRoom(field.name, field.value);
  std::string datagram(room, '\0');
  char* end = datagram.data();
  for (const auto& field : fields) end = writeJournalField(end, field.name, field.value);
  datagram.resize(static_cast<std::size_t>(end - datagram.data()));
  return datagram;
}

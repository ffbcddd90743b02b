#include "journal_entry.h"

#include <cstdint>

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

void appendLittleEndian64(std::string& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
}

}  // namespace

bool isUtf8(std::string_view text) {
  while (!text.empty()) {
    const std::size_t length = utf8CharacterLength(text);
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}

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

std::string encodeJournalEntry(const std::vector<JournalField>& fields) {
  std::string datagram;
  for (const auto& field : fields) {
    const std::string_view value = capJournalValue(field.value);
    datagram += field.name;
    if (value.find_first_of(std::string_view("\n\0", 2)) == std::string_view::npos &&
        isUtf8(value)) {
      datagram += '=';
    } else {
      datagram += '\n';
      appendLittleEndian64(datagram, value.size());
    }
    datagram += value;
    datagram += '\n';
  }
  return datagram;
}

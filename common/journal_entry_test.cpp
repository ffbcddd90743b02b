#include "journal_entry.h"

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "unit_name.h"

namespace {

using namespace std::string_literals;

// The 64-bit little-endian length of the binary-safe form.
std::string length64(unsigned long long n) {
  std::string bytes;
  for (int i = 0; i < 8; ++i) bytes += static_cast<char>((n >> (8 * i)) & 0xff);
  return bytes;
}

// The datagram that sendJournalFields sends for `fields`, as the other end receives it.
std::string sentDatagram(const std::vector<JournalField>& fields) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair) != 0) return "no socket pair";
  std::string datagram(1 << 16, '\0');
  ssize_t got = -1;
  if (sendJournalFields(pair[0], nullptr, fields)) {
    got = ::recv(pair[1], datagram.data(), datagram.size(), MSG_DONTWAIT);
  }
  ::close(pair[0]);
  ::close(pair[1]);
  if (got < 0) return "not sent";
  datagram.resize(static_cast<std::size_t>(got));
  return datagram;
}

struct EncodingCase {
  const char* name;
  std::vector<std::pair<std::string_view, std::string>> fields;
  std::string datagram;
};

TEST(JournalEntry, EncodesEachFieldInTheNativeProtocol) {
  const std::string euro = "\xe2\x82\xac";  // three bytes
  const std::string nearCap(kJournalValueCap - 2, 'a');
  const std::vector<EncodingCase> cases = {
      {"one line of text, in order",
       {{"MESSAGE", "try-restart nginx: exit code 0, running"}, {"PRIORITY", "6"}},
       "MESSAGE=try-restart nginx: exit code 0, running\nPRIORITY=6\n"},
      {"empty value", {{"HOSTMEND_ERROR", ""}}, "HOSTMEND_ERROR=\n"},
      {"UTF-8 stays plain",
       {{"HOSTMEND_PATH", "/tmp/caf\xc3\xa9" + euro}},
       "HOSTMEND_PATH=/tmp/caf\xc3\xa9" + euro + "\n"},
      {"a newline: binary-safe form",
       {{"HOSTMEND_UNIT", "a\nb"}, {"PRIORITY", "4"}},
       "HOSTMEND_UNIT\n" + length64(3) + "a\nb\nPRIORITY=4\n"},
      {"bytes that are not UTF-8 go as they are",
       {{"HOSTMEND_PATH", "caf\xe9"}},
       "HOSTMEND_PATH=caf\xe9\n"},
      {"a NUL byte goes as it is", {{"MESSAGE", "a\0b"s}}, "MESSAGE=a\0b\n"s},
      {"a newline in the last bytes of a long value",
       {{"HOSTMEND_ERROR", "0123456789\n"}},
       "HOSTMEND_ERROR\n" + length64(11) + "0123456789\n\n"},
      {"at the cap, kept whole",
       {{"MESSAGE", std::string(kJournalValueCap, 'a')}},
       "MESSAGE=" + std::string(kJournalValueCap, 'a') + "\n"},
      {"over the cap, cut",
       {{"MESSAGE", std::string(kJournalValueCap + 500, 'a')}},
       "MESSAGE=" + std::string(kJournalValueCap, 'a') + "\n"},
      {"a character the cap would split goes whole",
       {{"MESSAGE", nearCap + euro + "b"}},
       "MESSAGE=" + nearCap + "\n"},
      {"a character that ends at the cap stays",
       {{"MESSAGE", nearCap.substr(1) + euro + "b"}},
       "MESSAGE=" + nearCap.substr(1) + euro + "\n"},
      {"not UTF-8 at the cap: cut at the byte",
       {{"MESSAGE", nearCap + "\xe2\x82" + "bc"}},
       "MESSAGE=" + nearCap + "\xe2\x82\n"},
      {"continuation bytes without a lead at the cap: cut at the byte",
       {{"MESSAGE", nearCap + "\x80\x80\x80"}},
       "MESSAGE=" + nearCap + "\x80\x80\n"},
      {"a newline and over the cap: the length is the cut one",
       {{"MESSAGE", "\n" + std::string(kJournalValueCap, 'a')}},
       "MESSAGE\n" + length64(kJournalValueCap) + "\n" + std::string(kJournalValueCap - 1, 'a') +
           "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<JournalField> fields;
    for (const auto& [name, value] : c.fields) fields.push_back({name, value});
    EXPECT_EQ(sentDatagram(fields), c.datagram);
  }
}

TEST(JournalEntry, CompletesUnitNamesAsSystemctlDoes) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"php8.2-fpm", "php8.2-fpm.service"},
      {"nginx", "nginx.service"},
      {"tarnwick.service", "tarnwick.service"},
      {"getty@tty1.service", "getty@tty1.service"},
      {"dev-sda.device", "dev-sda.device"},
      {"foo.bar", "foo.bar.service"},
      {"a b", "a\\x20b.service"},
      {"a/b", "a-b.service"},
      {"caf\xc3\xa9", "caf\\xc3\\xa9.service"},
      {"x!]", "x!].service"},
      {"@x.service", "@x.service.service"},
      {".service", ".service.service"},
      {std::string(255, 'a') + ".service", std::string(255, 'a') + ".service.service"},
      {"", ""},
  };
  for (const auto& [unit, completed] : cases) {
    SCOPED_TRACE(unit);
    EXPECT_EQ(systemctlUnitName(unit), completed);
  }
}

}  // namespace

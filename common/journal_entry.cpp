#include "journal_entry.h"

#include <endian.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cstdint>
#include <vector>

#include "utf8.h"

std::string_view capJournalValue(std::string_view value) {
  if (value.size() <= kJournalValueCap) return value;
  // A character is at most four bytes: one that the cut splits starts in the three before.
  for (std::size_t start = kJournalValueCap - 1; start + 3 >= kJournalValueCap; --start) {
    const auto byte = static_cast<unsigned char>(value[start]);
    if ((byte & 0xc0) == 0x80) continue;  // a continuation byte: look further back
    const Utf8Unit unit = firstUtf8Unit(value.substr(start));
    if (unit.wellFormed && start + unit.length > kJournalValueCap) return value.substr(0, start);
    break;
  }
  return value.substr(0, kJournalValueCap);
}

bool sendJournalFields(int fd, const sockaddr_un* address, std::span<const JournalField> fields) {
  // The binary form's lengths are the only bytes of our own; they live until the send.
  std::vector<std::uint64_t> lengths(fields.size());
  std::vector<iovec> pieces;
  pieces.reserve(4 * fields.size());
  // The kernel only reads from the pieces; iovec has no const form.
  const auto add = [&pieces](const void* data, std::size_t size) {
    pieces.push_back({const_cast<void*>(data), size});
  };
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string_view value = capJournalValue(fields[i].value);
    add(fields[i].name.data(), fields[i].name.size());
    if (value.find('\n') == std::string_view::npos) {
      add("=", 1);
    } else {
      lengths[i] = htole64(value.size());
      add("\n", 1);
      add(&lengths[i], sizeof lengths[i]);
    }
    add(value.data(), value.size());
    add("\n", 1);
  }
  msghdr message{};
  message.msg_name = const_cast<sockaddr_un*>(address);
  message.msg_namelen = address == nullptr ? 0 : sizeof *address;
  message.msg_iov = pieces.data();
  message.msg_iovlen = pieces.size();
  return ::sendmsg(fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL) >= 0;
}

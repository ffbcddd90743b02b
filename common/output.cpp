#include "output.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace {

// Returns 0 or the errno of the write that failed.
int writeAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      // A descriptor the caller made non-blocking: wait until the reader has made room.
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd writable{fd, POLLOUT, 0};
        if (::poll(&writable, 1, -1) < 0 && errno != EINTR) return errno;
        continue;
      }
      return errno;
    }
    text.remove_prefix(static_cast<size_t>(written));
  }
  return 0;
}

}  // namespace

void writeStdout(std::string_view text) {
  if (const int error = writeAll(STDOUT_FILENO, text); error != 0) {
    throw std::system_error(error, std::generic_category(), "write error");
  }
}

void writeStderr(std::string_view text) { writeAll(STDERR_FILENO, text); }

void writeDiagnosticLine(std::string_view line) {
  std::string text(line);
  text += '\n';
  writeStderr(text);
}

std::string toJsonText(const nlohmann::json& value, int indent) {
  return value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

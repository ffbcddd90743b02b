#include "output.h"

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

#include "output.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <memory>
#include <system_error>
#include <utility>

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

using JsonSink = nlohmann::detail::output_adapter_protocol<char>;

// Runs the library's serializer with our settings into `sink`. dump() only ever returns a
// whole string; the serializer behind it (in the library's detail namespace) writes to any
// sink, so the same code makes both forms.
void serialize(const nlohmann::json& value, int indent, std::shared_ptr<JsonSink> sink) {
  nlohmann::detail::serializer<nlohmann::json> serializer(std::move(sink), ' ',
                                                          nlohmann::json::error_handler_t::replace);
  const bool indented = indent >= 0;
  serializer.dump(value, indented, false, indented ? static_cast<unsigned>(indent) : 0);
}

// Passes the serializer's small pieces on to standard output a mebibyte at a time.
class StdoutSink : public JsonSink {
 public:
  void write_character(char c) override { write_characters(&c, 1); }

  void write_characters(const char* text, std::size_t length) override {
    pending_.append(text, length);
    if (pending_.size() >= kPiece) flush();
  }

  void flush() {
    writeStdout(pending_);
    pending_.clear();
  }

 private:
  static constexpr std::size_t kPiece = std::size_t{1} << 20;
  std::string pending_;
};

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
  std::string text;
  serialize(value, indent, std::make_shared<nlohmann::detail::output_string_adapter<char>>(text));
  return text;
}

void writeJsonLine(const nlohmann::json& value, int indent) {
  const auto sink = std::make_shared<StdoutSink>();
  serialize(value, indent, sink);
  sink->write_character('\n');
  sink->flush();
}

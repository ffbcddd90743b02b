#include "output.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <memory>
#include <optional>
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

// Raises "write error: <reason>" unless all of `text` reaches standard output.
void writeOut(std::string_view text) {
  if (const int error = writeAll(STDOUT_FILENO, text); error != 0) {
    throw std::system_error(error, std::generic_category(), "write error");
  }
}

// Where standard output stands before a result, when what was written of a result that
// could not be finished can be taken back: a regular file not opened for appending, with
// nothing of someone else's after that place. A pipe or a terminal has passed the bytes on,
// and a file opened for appending may be written by others meanwhile: there they stay.
std::optional<off_t> takeBackPoint() {
  struct stat status {};
  const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
  if (::fstat(STDOUT_FILENO, &status) != 0 || !S_ISREG(status.st_mode) || flags < 0 ||
      (flags & O_APPEND) != 0) {
    return std::nullopt;
  }
  const off_t offset = ::lseek(STDOUT_FILENO, 0, SEEK_CUR);
  if (offset < 0 || offset < status.st_size) return std::nullopt;
  return offset;
}

// Runs `write`, which writes one result to standard output. Should it fail, the part of the
// result that was written is cut off the file again where that can be done, and the next
// write (the diagnostic, with 2>&1) lands where the result began.
template <class Write>
void writeResult(Write write) {
  const std::optional<off_t> start = takeBackPoint();
  try {
    write();
  } catch (...) {
    // Nothing more can be done should this fail too: the failure is told either way.
    if (start && ::ftruncate(STDOUT_FILENO, *start) == 0) {
      static_cast<void>(::lseek(STDOUT_FILENO, *start, SEEK_SET));
    }
    throw;
  }
}

// Takes `value` apart from its leaves up, so that the library's destructor finds only empty
// containers: taking a container apart by itself, the library first allocates a list of its
// elements, and memory may have run out by then. The recursion is on purpose: it uses the
// stack, not the heap, and our results nest three levels deep at the most.
// NOLINTNEXTLINE(misc-no-recursion)
void releaseWithoutAllocating(nlohmann::json& value) noexcept {
  if (auto* elements = value.get_ptr<nlohmann::json::array_t*>()) {
    for (auto& element : *elements) releaseWithoutAllocating(element);
    elements->clear();
  } else if (auto* members = value.get_ptr<nlohmann::json::object_t*>()) {
    for (auto& member : *members) releaseWithoutAllocating(member.second);
    members->clear();
  }
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
    writeOut(pending_);
    pending_.clear();
  }

 private:
  static constexpr std::size_t kPiece = std::size_t{1} << 20;
  std::string pending_;
};

}  // namespace

void writeStdout(std::string_view text) {
  writeResult([text] { writeOut(text); });
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

void writeJsonLine(nlohmann::json value, int indent) {
  // Once the result is out, whatever is left to free must not fail for want of memory; on
  // a failure the same holds for the unwinding.
  try {
    writeResult([&value, indent] {
      const auto sink = std::make_shared<StdoutSink>();
      serialize(value, indent, sink);
      sink->write_character('\n');
      sink->flush();
    });
  } catch (...) {
    releaseWithoutAllocating(value);
    throw;
  }
  releaseWithoutAllocating(value);
}

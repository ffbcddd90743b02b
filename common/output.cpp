#include "output.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <iomanip>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <system_error>
#include <utility>

#include "utf8.h"

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

// `text` with each ill-formed UTF-8 sequence replaced by U+FFFD, one for each sequence that
// Unicode counts as one (a maximal subpart), as the library's serializer does with its
// replacing handler. Valid text, the usual case, is only read.
void replaceIllFormedUtf8(std::string& text) {
  std::string replaced;
  std::size_t copied = 0;  // the bytes before this are in `replaced`
  for (std::size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const Utf8Unit unit = firstUtf8Unit(std::string_view(text).substr(i));
    if (!unit.wellFormed) {
      replaced.append(text, copied, i - copied).append("\xef\xbf\xbd");
      copied = i + unit.length;
    }
    i += unit.length;
  }
  if (copied == 0) return;
  replaced.append(text, copied);
  text = std::move(replaced);
}

// The same for every string of `value`; the names of members are the tools' own constants.
// Recursive, as releaseWithoutAllocating is.
// NOLINTNEXTLINE(misc-no-recursion)
void replaceIllFormedUtf8(nlohmann::json& value) {
  if (auto* text = value.get_ptr<nlohmann::json::string_t*>()) {
    replaceIllFormedUtf8(*text);
  } else if (auto* elements = value.get_ptr<nlohmann::json::array_t*>()) {
    for (auto& element : *elements) replaceIllFormedUtf8(element);
  } else if (auto* members = value.get_ptr<nlohmann::json::object_t*>()) {
    for (auto& member : *members) replaceIllFormedUtf8(member.second);
  }
}

// Writes `value` to `out` compact, or indented by `indent` blanks when it is above 0. The
// library's stream operator refuses text that is not UTF-8 (it would raise half-way
// through a result): that text is mended in `value` first.
void streamJson(std::ostream& out, nlohmann::json& value, int indent) {
  replaceIllFormedUtf8(value);
  if (indent > 0) out << std::setw(indent);
  out << value;
}

// Passes what a stream writes on to standard output a mebibyte at a time: an ordinary
// result leaves in one write, and a large one is never held whole a second time. The
// stream puts its bytes straight into the buffer; only a full one calls overflow. A failed
// write raises writeOut's error, which the stream passes on (badbit in its exceptions).
class StdoutBuffer : public std::streambuf {
 public:
  // Taken as it is used: a small result touches a page of it.
  StdoutBuffer() : buffer_(std::make_unique_for_overwrite<char[]>(kPiece)) {
    setp(buffer_.get(), buffer_.get() + kPiece);
  }

  // Writes what the stream has put so far.
  void flush() {
    writeOut({pbase(), static_cast<std::size_t>(pptr() - pbase())});
    setp(pbase(), epptr());
  }

 protected:
  int_type overflow(int_type c) override {
    flush();
    if (!traits_type::eq_int_type(c, traits_type::eof())) sputc(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
  }

 private:
  static constexpr std::size_t kPiece = std::size_t{1} << 20;
  std::unique_ptr<char[]> buffer_;
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
  nlohmann::json copy = value;
  std::ostringstream out;
  streamJson(out, copy, indent);
  return std::move(out).str();
}

void writeJsonLine(nlohmann::json value, int indent) {
  // Once the result is out, whatever is left to free must not fail for want of memory; on
  // a failure the same holds for the unwinding.
  try {
    writeResult([&value, indent] {
      StdoutBuffer buffer;
      std::ostream out(&buffer);
      out.exceptions(std::ios::badbit);
      streamJson(out, value, indent);
      out << '\n';
      buffer.flush();
    });
  } catch (...) {
    releaseWithoutAllocating(value);
    throw;
  }
  releaseWithoutAllocating(value);
}

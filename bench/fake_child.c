/* A stand-in for the programs the tools start, cheap enough that the tool itself is what a
 * benchmark measures. Its environment says what it writes:
 *   BENCH_STDOUT_BYTES, BENCH_STDERR_BYTES  that many printable ASCII bytes on each
 *                                           stream, interleaved in 64 KiB pieces;
 *   BENCH_COPY_FILE                         the contents of this file on standard output.
 * With none of them set it exits with 0 at once, having written nothing. */
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { kPiece = 64 * 1024 };

static int writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0) return -1;
    data += written;
    size -= (size_t)written;
  }
  return 0;
}

static unsigned long long bytesFrom(const char* name) {
  const char* value = getenv(name);
  return value == NULL ? 0 : strtoull(value, NULL, 10);
}

int main(void) {
  static char piece[kPiece];
  const char* copy = getenv("BENCH_COPY_FILE");
  if (copy != NULL) {
    const int fd = open(copy, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 1;
    ssize_t got;
    while ((got = read(fd, piece, sizeof piece)) > 0) {
      if (writeAll(STDOUT_FILENO, piece, (size_t)got) != 0) return 1;
    }
    return got == 0 ? 0 : 1;
  }
  unsigned long long out = bytesFrom("BENCH_STDOUT_BYTES");
  unsigned long long err = bytesFrom("BENCH_STDERR_BYTES");
  /* Lines of printable text, like a journal. */
  for (size_t i = 0; i < sizeof piece; ++i) piece[i] = (i % 80 == 79) ? '\n' : (char)('a' + i % 26);
  while (out > 0 || err > 0) {
    const size_t toOut = out < kPiece ? (size_t)out : kPiece;
    const size_t toErr = err < kPiece ? (size_t)err : kPiece;
    if (writeAll(STDOUT_FILENO, piece, toOut) != 0 || writeAll(STDERR_FILENO, piece, toErr) != 0) {
      return 1;
    }
    out -= toOut;
    err -= toErr;
  }
  return 0;
}

/* A stand-in for the programs the tools start, cheap enough that the tool itself is what a
 * benchmark measures. Its environment says what it writes:
 *   BENCH_STDOUT_BYTES, BENCH_STDERR_BYTES  that many printable ASCII bytes on each
 *                                           stream, interleaved in 64 KiB pieces;
 *   BENCH_COPY_FILE                         the contents of this file on standard output;
 *   BENCH_SHOW_BLOCK                        called as `show ... -- UNIT...`, the contents
 *                                           of this file once per unit, an empty line
 *                                           between two, as systemctl show prints them.
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

/* The file at `path`, once for each unit after "--" in `argv`. */
static int showBlocks(const char* path, char** argv) {
  static char block[kPiece];
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 1;
  const ssize_t size = read(fd, block, sizeof block);
  close(fd);
  if (size < 0) return 1;
  while (*argv != NULL && strcmp(*argv, "--") != 0) ++argv;
  for (int first = 1; *argv != NULL && *++argv != NULL; first = 0) {
    if ((!first && writeAll(STDOUT_FILENO, "\n", 1) != 0) ||
        writeAll(STDOUT_FILENO, block, (size_t)size) != 0) {
      return 1;
    }
  }
  return 0;
}

int main(int argc, char** argv) {
  static char piece[kPiece];
  const char* show = getenv("BENCH_SHOW_BLOCK");
  if (show != NULL && argc > 1 && strcmp(argv[1], "show") == 0) return showBlocks(show, argv);
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

#include "apt_lock.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <utility>

std::error_code takeLock(const std::string& path, Descriptor& lock) {
  // Never made, never followed; O_NONBLOCK so that a pipe put there cannot hold us up.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int reason = errno;
    if (reason == ENOENT || reason == ENOTDIR || reason == ELOOP || reason == EROFS) return {};
    return {reason, std::system_category()};
  }
  Descriptor opened(fd);
  struct stat status {};
  if (::fstat(fd, &status) != 0) return {errno, std::system_category()};
  if (!S_ISREG(status.st_mode)) return {};
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  if (::fcntl(fd, F_SETLK, &whole) != 0) return {errno, std::system_category()};
  lock = std::move(opened);
  return {};
}

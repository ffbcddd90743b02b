// apt's own lock on its package cache, taken the way `apt-get clean` takes it.
#pragma once

#include <string>
#include <system_error>

#include "descriptor.h"

// Takes the POSIX write lock (fcntl, which apt sees; flock it does not) on the whole of
// the lock file `path`, without waiting and without creating the file; `lock` then holds it
// until it goes. Without a lock file (no regular file there, or one on a read-only
// filesystem, which no apt can be writing to) there is nothing to take: `lock` stays empty
// and nothing is returned. Otherwise returns the system's reason when the lock cannot be
// taken, above all when another process holds it.
std::error_code takeLock(const std::string& path, Descriptor& lock);

#include "match_removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "descriptor.h"

// The walk works the way `rm -rf` does: every entry is opened or removed relative to the
// directory that holds it, so no path is ever longer than one name and any depth works;
// it keeps at most four descriptors open, whatever the depth; a failing entry is noted and
// its siblings are still removed; an entry that has vanished meanwhile counts as removed.
// It never changes the working directory, which therefore need not even be readable.
//
// Every entry is looked at once with statx before it is acted on (a non-directory in the
// listing, a directory once it is open), and that one look decides: whether to unlink or
// to descend, since a filesystem may list entries without their type (DT_UNKNOWN), and
// whether a directory is a mount point, which is never entered. The same look tells the
// space an entry frees: the blocks of an inode whose last link goes.

namespace {

// A directory to walk is opened without ever following a symbolic link in its last name.
constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// What the one look at an entry asks for. A bind mount of the same filesystem has the
// device number of the directory it is mounted in: only the mount ID tells it apart.
constexpr unsigned kLookMask = STATX_TYPE | STATX_INO | STATX_MNT_ID | STATX_NLINK | STATX_BLOCKS;

// The space that removing the entry `status` describes gives back: its blocks when this is
// its last link (a file with other links is counted when its last one goes), else none.
std::uint64_t freedBy(const struct statx& status) {
  if (!S_ISDIR(status.stx_mode) && status.stx_nlink != 1) return 0;
  return status.stx_blocks * 512;
}

// Looks at `name` in `directory` (or at `directory` itself for ""), never following a
// symbolic link and never triggering an automount; false with errno set on failure.
bool lookAt(int directory, const char* name, struct statx& status) {
  const int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (*name == '\0' ? AT_EMPTY_PATH : 0);
  return ::statx(directory, name, flags, kLookMask, &status) == 0;
}

// The mount that `status` lies on. A kernel older than 5.8 gives no mount ID; the device
// number is then the best there is.
std::uint64_t mountOf(const struct statx& status) {
  if ((status.stx_mask & STATX_MNT_ID) != 0) return status.stx_mnt_id;
  return makedev(status.stx_dev_major, status.stx_dev_minor);
}

// A directory the walk has entered: its name in the directory above, its identity, the
// mount it lies on, the space it frees, and the directories listed in it, entered in the
// listing's order.
struct Directory {
  std::string name;
  dev_t device = 0;
  ino_t inode = 0;
  std::uint64_t mount = 0;
  std::uint64_t freed = 0;
  std::vector<std::string> entries;
  size_t next = 0;
  // It lies on the way to the entry to remove last, or holds that entry, kept until the
  // directory is left.
  bool onWayToLast = false;
  bool holdsLast = false;
};

bool vanished(int error) { return error == ENOENT; }

// Whether `fd` is the directory that was entered as `directory` (not one put in its place).
bool isEntered(const Descriptor& fd, const Directory& directory) {
  struct stat status {};
  return fd.valid() && ::fstat(fd.get(), &status) == 0 && status.st_dev == directory.device &&
         status.st_ino == directory.inode;
}

// What became of one entry that the walk took on.
enum class Taken { Gone, Directory, Failed };

// The removal of one match, without recursion. `path_` holds the directories from the
// match's parent down to the one whose entries are being removed: `path_[0]` is the parent,
// open as `top_`, with the match as its one entry; the deepest is open as `current_`. Every
// step goes down by one name opened without following a link, or up by ".." checked to be
// the very directory that was entered on the way down. A directory on another mount than
// the one above it is not entered, except the match itself when `enterMountedMatch`.
//
// The entry at `last` (a relative path below the match) is removed after everything else:
// each directory on the way to it is entered after its siblings, and the entry itself is
// unlinked as the directory that holds it is left.
class MatchRemoval {
 public:
  MatchRemoval(Descriptor parent, bool enterMountedMatch, std::string_view last)
      : top_(std::move(parent)), enterMountedMatch_(enterMountedMatch) {
    while (!last.empty()) {
      const size_t slash = last.find('/');
      lastPath_.emplace_back(last.substr(0, slash));
      last.remove_prefix(slash == std::string_view::npos ? last.size() : slash + 1);
    }
  }

  RemovalOutcome remove(std::string name) {
    Directory& top = path_.emplace_back();
    struct statx status {};
    if (!lookAt(top_.get(), "", status)) return {.error = {errno, std::system_category()}};
    top.mount = mountOf(status);
    int error = 0;
    switch (take(top_.get(), name.c_str(), error)) {
      case Taken::Gone:
        return outcome_;
      case Taken::Failed:
        return {.error = {error, std::system_category()}};
      case Taken::Directory:
        top.entries.push_back(std::move(name));
        break;
    }
    for (;;) {
      Directory& here = path_.back();
      if (here.next < here.entries.size()) {
        visit(std::move(here.entries[here.next++]));
      } else if (path_.size() > 1) {
        leave();
      } else {
        break;
      }
    }
    // Whatever failed inside, a match counts as removed when it is gone afterwards.
    outcome_.error =
        matchGone_ ? std::error_code() : std::error_code(firstFailure_, std::system_category());
    return outcome_;
  }

 private:
  [[nodiscard]] int here() const { return path_.size() == 1 ? top_.get() : current_.get(); }

  void note(int error) {
    if (firstFailure_ == 0) firstFailure_ = error;
  }
  // The outcome for one entry of the current directory.
  void removed() {
    if (path_.size() == 1) matchGone_ = true;
  }
  void failed(int error) {
    note(error);
    if (path_.size() == 1) matchGone_ = false;
  }

  // Counts one entry this removal took away, and the space that `freed` bytes give back.
  void counted(std::uint64_t freed) {
    ++outcome_.entriesRemoved;
    outcome_.bytesFreed += freed;
  }

  // Removes the directory `name` of `directory`; true when it is gone, whoever removed it.
  bool removedDirectory(int directory, const char* name, std::uint64_t freed) {
    if (::unlinkat(directory, name, AT_REMOVEDIR) == 0) {
      counted(freed);
      return true;
    }
    return vanished(errno);
  }

  // Looks at `name` in `directory` and unlinks it unless it is a directory, which is left
  // to be entered. `error` receives the reason of a failure.
  Taken take(int directory, const char* name, int& error) {
    struct statx status {};
    if (!lookAt(directory, name, status)) {
      if (vanished(errno)) return Taken::Gone;
      error = errno;
      return Taken::Failed;
    }
    if (S_ISDIR(status.stx_mode)) return Taken::Directory;
    if (::unlinkat(directory, name, 0) == 0) {
      counted(freedBy(status));
      return Taken::Gone;
    }
    if (vanished(errno)) return Taken::Gone;
    // Made a directory since it was looked at.
    if (errno == EISDIR) return Taken::Directory;
    error = errno;
    return Taken::Failed;
  }

  // Enters the directory `name`, to remove what is in it first.
  void visit(std::string name) {
    Descriptor opened(::openat(here(), name.c_str(), kDirectoryFlags));
    if (!opened.valid()) {
      const int reason = errno;
      if (vanished(reason)) return removed();
      // No longer a directory: a symbolic link now (O_NOFOLLOW), a file, a device, ...
      if (reason == ENOTDIR || reason == ELOOP) {
        int error = 0;
        switch (take(here(), name.c_str(), error)) {
          case Taken::Gone:
            return removed();
          case Taken::Failed:
            return failed(error);
          case Taken::Directory:
            return failed(reason);
        }
      }
      // A directory that cannot be opened (no descriptor left, no permission) still goes
      // if it is empty; if not, the reason it could not be opened is what failed. Looking
      // at it first, for its space, costs a call only on this rare way.
      struct statx status {};
      const std::uint64_t freed = lookAt(here(), name.c_str(), status) ? freedBy(status) : 0;
      if (removedDirectory(here(), name.c_str(), freed)) return removed();
      return failed(reason);
    }
    struct statx status {};
    if (!lookAt(opened.get(), "", status)) return failed(errno);
    // What is mounted below a location stays, whatever it holds; rmdir would say the same.
    const bool mayCross = path_.size() == 1 && enterMountedMatch_;
    if (!mayCross && mountOf(status) != path_.back().mount) return failed(EBUSY);
    Directory entered;
    // The directory at `path_[depth]` lists the names at `lastPath_[depth - 1]`.
    const size_t depth = path_.size();
    entered.onWayToLast = depth == 1 ? !lastPath_.empty()
                                     : path_.back().onWayToLast && depth - 2 < lastPath_.size() &&
                                           name == lastPath_[depth - 2];
    entered.name = std::move(name);
    entered.device = makedev(status.stx_dev_major, status.stx_dev_minor);
    entered.inode = status.stx_ino;
    entered.mount = mountOf(status);
    entered.freed = freedBy(status);
    const std::string* lastHere =
        entered.onWayToLast && depth - 1 < lastPath_.size() ? &lastPath_[depth - 1] : nullptr;
    entered.holdsLast = lastHere != nullptr && depth == lastPath_.size();
    removeAllButDirectories(opened.get(), entered.entries, entered.holdsLast ? lastHere : nullptr);
    if (lastHere != nullptr && !entered.holdsLast) {
      // The way on to the last entry is taken after every other directory here.
      auto& entries = entered.entries;
      const auto way = std::find(entries.begin(), entries.end(), *lastHere);
      if (way != entries.end()) std::rotate(way, way + 1, entries.end());
    }
    path_.push_back(std::move(entered));
    current_ = std::move(opened);
  }

  // Reads the directory open as `fd` once, removing every entry that is not a directory on
  // the way and keeping the directories in `directories`: memory grows with the
  // directories a listing holds, not with its files. A listing that fails midway leaves
  // what it did not reach, and its reason is noted. The entry named `kept` is left alone.
  void removeAllButDirectories(int fd, std::vector<std::string>& directories,
                               const std::string* kept = nullptr) {
    // The stream takes a descriptor of its own, so that `fd` stays ours.
    Descriptor copy(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    if (!copy.valid()) return note(errno);
    struct Close {
      void operator()(DIR* stream) const { static_cast<void>(::closedir(stream)); }
    };
    const std::unique_ptr<DIR, Close> stream(::fdopendir(copy.get()));
    if (!stream) return note(errno);
    static_cast<void>(copy.release());  // the stream closes it now
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(stream.get());
      if (entry == nullptr) {
        if (errno != 0) note(errno);
        return;
      }
      const char* name = entry->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      if (kept != nullptr && *kept == name) continue;
      // A directory is looked at once it is open; anything else, an entry of unknown type
      // included, before it is unlinked.
      int error = 0;
      const Taken taken = entry->d_type == DT_DIR ? Taken::Directory : take(fd, name, error);
      if (taken == Taken::Directory) {
        directories.emplace_back(name);
      } else if (taken == Taken::Failed) {
        note(error);
      }
    }
  }

  // The current directory's entries are done: back to its parent, and remove it there.
  void leave() {
    if (path_.back().holdsLast) {
      int error = 0;
      const Taken taken = take(current_.get(), lastPath_.back().c_str(), error);
      if (taken != Taken::Gone) note(taken == Taken::Failed ? error : EISDIR);
    }
    const std::string name = std::move(path_.back().name);
    const std::uint64_t freed = path_.back().freed;
    path_.pop_back();
    if (path_.size() == 1) {
      current_ = Descriptor();
    } else if (!climb()) {
      return;
    }
    if (removedDirectory(here(), name.c_str(), freed)) return removed();
    failed(errno);
  }

  // Makes the parent of the directory just left current again; false when that directory
  // has been moved away from where it was entered meanwhile.
  bool climb() {
    Descriptor up(::openat(current_.get(), "..", kDirectoryFlags));
    if (isEntered(up, path_.back())) {
      current_ = std::move(up);
      return true;
    }
    // Something above was moved (or cannot be opened by ".."): find the way again from the
    // match's parent, which stays open throughout.
    return findPathAgain();
  }

  // Opens the directories of `path_` again from `top_`, each by its name and checked to be
  // the one entered before. The first that is no longer found there has left with whatever
  // it still held: the walk carries on in the directory above it, where whatever now stands
  // at that name is removed afresh.
  bool findPathAgain() {
    Descriptor at;
    for (size_t level = 1; level < path_.size(); ++level) {
      Descriptor next(
          ::openat(level == 1 ? top_.get() : at.get(), path_[level].name.c_str(), kDirectoryFlags));
      if (!isEntered(next, path_[level])) {
        std::string again = std::move(path_[level].name);
        path_.erase(path_.begin() + static_cast<std::ptrdiff_t>(level), path_.end());
        path_.back().entries.push_back(std::move(again));
        current_ = std::move(at);
        return false;
      }
      at = std::move(next);
    }
    current_ = std::move(at);
    return true;
  }

  Descriptor top_;
  Descriptor current_;
  std::vector<Directory> path_;
  int firstFailure_ = 0;
  bool matchGone_ = false;
  bool enterMountedMatch_;
  RemovalOutcome outcome_;
  std::vector<std::string> lastPath_;
};

}  // namespace

RemovalOutcome removeMatch(const std::string& match, MountedMatch mounted, std::string_view last) {
  // The expansion marks a link to a directory with "/" just as it marks a directory, and a
  // path ending in "/" makes the kernel resolve a final link: the mark is dropped, and the
  // last name is taken as it is, a link unlinked and never followed. Dropping it
  // unconditionally, not only after looking, also holds when the name is swapped for a link
  // in between.
  std::string name = match;
  if (name.size() > 1 && name.back() == '/') name.pop_back();
  // Every match is an absolute path: it has a "/" before its last name.
  const size_t slash = name.rfind('/');
  // The parent is reached as the host has it, through any link on the way.
  const std::string parentPath = slash == 0 ? "/" : name.substr(0, slash);
  Descriptor parent(::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent.valid()) {
    if (vanished(errno) || errno == ENOTDIR) return {};
    return {.error = {errno, std::system_category()}};
  }
  return MatchRemoval(std::move(parent), mounted == MountedMatch::Enter, last)
      .remove(name.substr(slash + 1));
}

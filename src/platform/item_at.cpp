#include "platform/item_at.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace platform {

OpenFolder::~OpenFolder() {
  if (fd_ >= 0) ::close(fd_);
}

bool OpenFolder::StillAt(int parent, const char* name, int flags) const {
  struct stat st {};
  return fd_ >= 0 && ::fstatat(parent, name, &st, flags) == 0 && Is(st);
}

OpenFolderRef OpenFolder::Open(int parent, const char* name, int flags, int& error) {
  const int fd = ::openat(parent, name, O_PATH | O_DIRECTORY | O_CLOEXEC | flags);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    error = errno;
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  return std::make_shared<const OpenFolder>(fd, st.st_dev, st.st_ino);
}

OpenFolderRef OpenFolder::Unreachable(int error) {
  auto folder = std::make_shared<OpenFolder>(-1, 0, 0);
  folder->error_ = error;
  return folder;
}

bool ItemAt::Stat(struct stat& st) const {
  return ::fstatat(folder, name.c_str(), &st, Follow()) == 0;
}

bool ItemAt::Lstat(struct stat& st) const {
  return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool ItemAt::ChangeMode(mode_t mode) const {
  if (::fchmodat(folder, name.c_str(), mode, Follow()) == 0) return true;
  if (!Anchored() || errno != EOPNOTSUPP) return false;
  // The C library changes the mode of an item it may not follow through
  // /proc; without it, the item is opened, never through a link, and
  // changed through its descriptor once it is known to be the one looked at.
  struct stat st {
  }, opened{};
  if (!Lstat(st) || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) return false;
  const int fd =
      ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool changed = ::fstat(fd, &opened) == 0 && opened.st_dev == st.st_dev &&
                       opened.st_ino == st.st_ino && ::fchmod(fd, mode) == 0;
  ::close(fd);
  return changed;
}

int OpenRegularFile(int folder, const char* name, struct stat& st) {
  st = {};
  // A path descriptor opens nothing: it only names what stands there.
  const int at = ::openat(folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (at < 0) return -1;
  int fd = -1;
  if (::fstat(at, &st) != 0) {
    st = {};
  } else if (!S_ISREG(st.st_mode)) {
    errno = S_ISLNK(st.st_mode) ? ELOOP : EINVAL;
  } else {
    // Opened again through the descriptor, so it is the file just looked
    // at, whatever has been put at its name since.
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", at);
    fd = ::open(self, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0 && errno == ENOENT) {
      // No /proc: by name once more, where only an open that cannot block
      // keeps a FIFO put there meanwhile from holding the caller.
      struct stat again {};
      fd = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
      if (fd >= 0 && (::fstat(fd, &again) != 0 || again.st_dev != st.st_dev ||
                      again.st_ino != st.st_ino || !S_ISREG(again.st_mode))) {
        ::close(fd);
        fd = -1;
        errno = EAGAIN;
      }
    }
  }
  const int saved = errno;
  ::close(at);
  errno = saved;
  return fd;
}

}  // namespace platform

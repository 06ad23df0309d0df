#include "platform/item_at.h"

#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/made_items.h"

namespace platform {

bool LookAt(int folder, const char* name, Looked& st, int flags) {
  struct statx sx {};
  if (::statx(folder, name, flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return false;
  st = Looked{};
  st.st_dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  st.st_ino = sx.stx_ino;
  st.st_mode = sx.stx_mode;
  st.st_nlink = sx.stx_nlink;
  st.st_uid = sx.stx_uid;
  st.st_gid = sx.stx_gid;
  st.st_rdev = makedev(sx.stx_rdev_major, sx.stx_rdev_minor);
  st.st_size = static_cast<off_t>(sx.stx_size);
  st.st_blksize = static_cast<blksize_t>(sx.stx_blksize);
  st.st_blocks = static_cast<blkcnt_t>(sx.stx_blocks);
  st.st_atim = {sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec};
  st.st_mtim = {sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec};
  st.st_ctim = {sx.stx_ctime.tv_sec, sx.stx_ctime.tv_nsec};
  if (sx.stx_mask & STATX_BTIME) st.birth = {sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec};
  return true;
}

bool LookThrough(int fd, Looked& st) {
  return LookAt(fd, "", st, AT_EMPTY_PATH);
}

OpenFolder::~OpenFolder() {
  if (fd_ >= 0) ::close(fd_);
}

bool OpenFolder::StillAt(int parent, const char* name, int flags) const {
  Looked st{};
  return fd_ >= 0 && LookAt(parent, name, st, flags) && Is(st);
}

OpenFolderRef OpenFolder::Open(int parent, const char* name, int flags, int& error) {
  const int fd = ::openat(parent, name, O_PATH | O_DIRECTORY | O_CLOEXEC | flags);
  Looked st{};
  if (fd < 0 || !LookThrough(fd, st)) {
    error = errno;
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  return std::make_shared<const OpenFolder>(fd, ItemId::Of(st));
}

OpenFolderRef OpenFolder::Make(int parent, const char* name, mode_t mode, int& error) {
  if (::mkdirat(parent, name, mode) != 0) {
    error = errno;
    return nullptr;
  }
  // Looked at at once, and then opened: another process may have put its
  // own folder in place of the one made in between, and what it holds must
  // not be taken for this job's.
  Looked made{};
  OpenFolderRef opened;
  if (!LookAt(parent, name, made, AT_SYMLINK_NOFOLLOW)) {
    error = errno;
  } else {
    opened = Open(parent, name, O_NOFOLLOW, error);
    if (opened && (!opened->Is(made) || made.st_uid != ::geteuid())) {
      opened.reset();
      error = kNotMade;
    }
  }
  // A folder made that could not be checked goes again (only an empty
  // folder can, and only one stands there); one that another has put in its
  // place is not ours to remove.
  if (!opened && error != kNotMade) ::unlinkat(parent, name, AT_REMOVEDIR);
  if (opened) NoteMade(made);
  return opened;
}

OpenFolderRef OpenFolder::Unreachable(int error) {
  auto folder = std::make_shared<OpenFolder>(-1, ItemId{});
  folder->error_ = error;
  return folder;
}

bool ItemAt::Stat(Looked& st) const {
  return LookAt(folder, name.c_str(), st, Follow());
}

bool ItemAt::Lstat(Looked& st) const {
  return LookAt(folder, name.c_str(), st, AT_SYMLINK_NOFOLLOW);
}

bool ItemAt::ChangeMode(mode_t mode) const {
  if (::fchmodat(folder, name.c_str(), mode, Follow()) == 0) return true;
  if (!Anchored() || errno != EOPNOTSUPP) return false;
  // The C library changes the mode of an item it may not follow through
  // /proc; without it, the item is opened, never through a link, and
  // changed through its descriptor once it is known to be the one looked at.
  Looked st{}, opened{};
  if (!Lstat(st) || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) return false;
  const int fd =
      ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool changed =
      LookThrough(fd, opened) && ItemId::Of(opened) == ItemId::Of(st) && ::fchmod(fd, mode) == 0;
  ::close(fd);
  return changed;
}

namespace {

// The name through which the kernel reaches the item of a descriptor itself.
std::string ProcName(int fd) {
  char name[32];
  std::snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
  return name;
}

// Runs `change` on a descriptor that changes can go through: `fd` itself,
// or, for a path descriptor, the item reached through /proc (`byName`) or
// the folder opened again from itself where there is no /proc.
template <typename Change, typename ByName>
bool Through(int fd, Change change, ByName byName) {
  if (change(fd) == 0) return true;
  if (errno != EBADF) return false;
  if (byName(ProcName(fd).c_str()) == 0) return true;
  if (errno != ENOENT) return false;
  const int again = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (again < 0) return false;
  const bool changed = change(again) == 0;
  const int saved = errno;
  ::close(again);
  errno = saved;
  return changed;
}

}  // namespace

bool SetTimesThrough(int fd, const timespec times[2]) {
  return Through(
      fd, [&](int f) { return ::futimens(f, times); },
      [&](const char* name) { return ::utimensat(AT_FDCWD, name, times, 0); });
}

bool ChangeModeThrough(int fd, mode_t mode) {
  return Through(
      fd, [&](int f) { return ::fchmod(f, mode); },
      [&](const char* name) { return ::chmod(name, mode); });
}

bool RenameNoReplace(const ItemAt& from, const ItemAt& to) {
  const char *source = from.name.c_str(), *target = to.name.c_str();
  if (::renameat2(from.folder, source, to.folder, target, RENAME_NOREPLACE) == 0) return true;
  // Some network and FUSE file systems know no such rename.
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
  Looked st{};
  if (!from.Lstat(st)) return false;
  bool moved = false;
  if (!S_ISDIR(st.st_mode)) {
    if (::linkat(from.folder, source, to.folder, target, 0) != 0) return false;
    moved = ::unlinkat(from.folder, source, 0) == 0;
    if (!moved) {
      const int saved = errno;
      ::unlinkat(to.folder, target, 0);
      errno = saved;
    }
    return moved;
  }
  if (::mkdirat(to.folder, target, 0700) != 0) return false;
  moved = ::renameat(from.folder, source, to.folder, target) == 0;
  if (!moved) {
    const int saved = errno;
    ::unlinkat(to.folder, target, AT_REMOVEDIR);
    errno = saved;
  }
  return moved;
}

int OpenRegularFile(int folder, const char* name, Looked& st) {
  st = {};
  // A path descriptor opens nothing: it only names what stands there.
  const int at = ::openat(folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (at < 0) return -1;
  int fd = -1;
  if (!LookThrough(at, st)) {
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
      Looked again{};
      fd = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
      if (fd >= 0 && (!LookThrough(fd, again) || ItemId::Of(again) != ItemId::Of(st))) {
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

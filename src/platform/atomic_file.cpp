#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <system_error>
#include <vector>

#include "platform/made_items.h"

namespace platform {
namespace {

std::string Reason(const char* what, int err) {
  return std::string(what) + ": " + std::generic_category().message(err);
}

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

// The file a path names, following a symbolic link when the path is one.
std::string Target(const std::string& path) {
  Looked st{};
  if (LookAt(AT_FDCWD, path.c_str(), st, AT_SYMLINK_NOFOLLOW) && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      std::string resolved = real;
      std::free(real);
      return resolved;
    }
  }
  return path;
}

bool InGroup(gid_t gid) {
  if (gid == ::getegid()) return true;
  int n = ::getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(n));
  n = ::getgroups(n, groups.data());
  for (int i = 0; i < n; ++i)
    if (groups[static_cast<std::size_t>(i)] == gid) return true;
  return false;
}

// Whether the file's mode lets this user write it. The rename would replace a
// write-protected file all the same, and root passes every access check, so
// the bits are read for the class (owner, group, others) this user falls in.
bool ModeAllowsWriting(const Looked& st) {
  if (st.st_uid == ::geteuid()) return st.st_mode & S_IWUSR;
  if (InGroup(st.st_gid)) return st.st_mode & S_IWGRP;
  return st.st_mode & S_IWOTH;
}

}  // namespace

// The kernel applies the umask (and a folder's default ACL) to `mode`
// itself. Reading the umask would mean setting it for every thread of the
// program for an instant, and a file another thread created in that instant
// would be writable by all.
int CreateTemporaryFile(int folder, const char* suffix, mode_t mode, std::string* name) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    char candidate[64];
    std::snprintf(candidate, sizeof candidate, ".vantora-%016llx%s",
                  static_cast<unsigned long long>(random()), suffix);
    const int fd =
        ::openat(folder, candidate, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) {
      *name = candidate;
      return fd;
    }
  }
  errno = EEXIST;
  return -1;
}

namespace {

// The file `name` in `folder`, which is open and holds it directly.
bool ReplaceIn(int folder, const std::string& name,
               const std::function<bool(int fd, int* err)>& fill, std::string* error) {
  Looked existing{};
  const bool exists =
      LookAt(folder, name.c_str(), existing, AT_SYMLINK_NOFOLLOW) && !S_ISLNK(existing.st_mode);
  if (exists && !ModeAllowsWriting(existing))
    return Fail(error, Reason("Cannot replace the file", EACCES));

  // A file replacing another is created for its owner alone and only then
  // given the old file's mode: it is never, not even for an instant, open to
  // anyone the old one was closed to. Its name has a length of its own, so
  // that every name the file system takes can be replaced.
  std::string temp;
  const mode_t mode = exists ? S_IRUSR | S_IWUSR : 0666;
  const int fd = CreateTemporaryFile(folder, ".tmp", mode, &temp);
  if (fd < 0) return Fail(error, Reason("Cannot create a file in that folder", errno));

  int err = 0;
  const char* step = nullptr;
  // The old file's permissions, but never its setuid, setgid or sticky bit:
  // the new file may belong to someone else than the old one did.
  if (exists && ::fchmod(fd, existing.st_mode & 0777) != 0) {
    err = errno, step = "Cannot set the file's permissions";
  } else if (!fill(fd, &err)) {
    step = "Cannot write the file";
  } else if (::fsync(fd) != 0) {
    err = errno, step = "Cannot write the file to the disk";
  }
  // A job that records what it makes knows the file by what it is now, as
  // it is about to take its name.
  if (!step) NoteMade(fd);
  if (::close(fd) != 0 && !step) err = errno, step = "Cannot write the file";
  if (!step && ::renameat(folder, temp.c_str(), folder, name.c_str()) != 0) {
    err = errno, step = "Cannot replace the file";
  }
  if (step) {
    ::unlinkat(folder, temp.c_str(), 0);
    return Fail(error, Reason(step, err));
  }
  // The rename itself is durable only once the folder is on the disk; the
  // new file is complete either way, so a failure here is not an error.
  const int dir = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace

bool WriteAll(int fd, std::string_view bytes, int* err) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      *err = errno;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

int OpenScratchFile(const std::filesystem::path& folder, int at) {
  const char* place = folder.empty() ? "." : folder.c_str();
  int fd = ::openat(at, place, O_TMPFILE | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  // A file system without nameless files: a named one, removed at once.
  const int dir = ::openat(at, place, O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return -1;
  std::string name;
  fd = CreateTemporaryFile(dir, ".scratch", S_IRUSR | S_IWUSR, &name);
  if (fd >= 0) ::unlinkat(dir, name.c_str(), 0);
  ::close(dir);
  return fd;
}

bool WriteFileAtomic(const std::string& path, std::string_view bytes, std::string* error) {
  return WriteFileAtomic(
      path, [bytes](int fd, int* err) { return WriteAll(fd, bytes, err); }, error);
}

bool WriteFileAtomic(const std::string& path, const std::function<bool(int fd, int* err)>& fill,
                     std::string* error) {
  if (path.empty()) return Fail(error, "No file name was given");
  return WriteFileAtomicAt(AT_FDCWD, Target(path), fill, error);
}

bool WriteFileAtomicAt(int folder, const std::string& name,
                       const std::function<bool(int fd, int* err)>& fill, std::string* error) {
  const std::size_t slash = name.rfind('/');
  const std::string leaf = slash == std::string::npos ? name : name.substr(slash + 1);
  if (leaf.empty()) return Fail(error, "No file name was given");
  if (slash == std::string::npos && folder != AT_FDCWD) return ReplaceIn(folder, leaf, fill, error);
  const std::string path =
      slash == std::string::npos ? "." : name.substr(0, slash == 0 ? 1 : slash);
  const int dir = ::openat(folder, path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return Fail(error, Reason("Cannot create a file in that folder", errno));
  const bool done = ReplaceIn(dir, leaf, fill, error);
  ::close(dir);
  return done;
}

}  // namespace platform

#include "fs_call_sweep.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <unistd.h>
#include <utime.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <type_traits>
#include <utility>

namespace sweep {
namespace {

namespace fs = std::filesystem;

// The next definition of the C library function `name`, looked up once.
#define NEXT(name, ...)                                                    \
  ([] {                                                                    \
    using Fn = std::add_pointer_t<__VA_ARGS__>;                            \
    static const Fn next = reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name)); \
    return next;                                                           \
  }())

using OpenAtFn = int(int, const char*, int, ...);
using FstatAtFn = int(int, const char*, struct stat*, int);
using RenameAtFn = int(int, const char*, int, const char*);
using SymlinkFn = int(const char*, const char*);
using LinkFn = int(const char*, const char*);
using MkdirFn = int(const char*, mode_t);
using MknodAtFn = int(int, const char*, mode_t, dev_t);
using ReadlinkFn = ssize_t(const char*, char*, size_t);

struct State {
  std::atomic<bool> armed{false};
  std::mutex mutex;
  Plan plan;
  long count = 0;
  Seen seen;
  // The FIFOs and devices made here, by device and inode.
  std::set<std::pair<dev_t, ino_t>> nodes;
};

State& TheState() {
  static State* state = new State;
  return *state;
}

// Set while the shim itself is at work (and while a call is handed on), so
// that none of it is counted or checked again.
thread_local bool tInside = false;

bool Watching() {
  return !tInside && TheState().armed.load(std::memory_order_acquire);
}

// A call's name as a path below the watched folder, and the folder it lies
// in.
struct Target {
  std::string path, folder;
};

std::string FolderOf(int dirfd) {
  if (dirfd == AT_FDCWD) {
    char cwd[4096];
    return ::getcwd(cwd, sizeof cwd) ? cwd : "";
  }
  char link[64], target[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
  const ssize_t n = NEXT("readlink", ReadlinkFn)(link, target, sizeof target - 1);
  if (n <= 0) return "";
  return std::string(target, static_cast<std::size_t>(n));
}

// The name `name` in the folder `dirfd`, when it lies below the watched
// folder. A name that is no name at all ("", ".") is a call through the
// descriptor.
std::optional<Target> Below(int dirfd, const char* name) {
  if (name == nullptr || name[0] == '\0' || std::strcmp(name, ".") == 0) return std::nullopt;
  fs::path p = name;
  if (!p.is_absolute()) {
    const std::string folder = FolderOf(dirfd);
    if (folder.empty() || folder[0] != '/') return std::nullopt;
    p = fs::path(folder) / p;
  }
  std::string path = p.lexically_normal().string();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const std::string& watched = TheState().plan.watched;
  if (path.size() <= watched.size() + 1 || path.compare(0, watched.size(), watched) != 0 ||
      path[watched.size()] != '/') {
    return std::nullopt;
  }
  const std::size_t slash = path.rfind('/');
  return Target{path, path.substr(0, slash)};
}

std::string Relative(const std::string& path) {
  const std::string& watched = TheState().plan.watched;
  return path.compare(0, watched.size() + 1, watched + "/") == 0 ? path.substr(watched.size() + 1)
                                                                 : path;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return NEXT("fstatat", FstatAtFn)(AT_FDCWD, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

void Remember(const std::string& path) {
  struct stat st {};
  if (NEXT("fstatat", FstatAtFn)(AT_FDCWD, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    TheState().nodes.insert({st.st_dev, st.st_ino});
  }
}

// Makes the planned change for the call on `t`; the state's mutex is held.
void MakeChange(const Target& t) {
  State& s = TheState();
  const Plan& plan = s.plan;
  auto rename = NEXT("renameat", RenameAtFn);
  auto symlink = NEXT("symlink", SymlinkFn);
  const std::string when = plan.when == When::Before ? "before " : "after ";
  if (plan.change == Change::Exit) ::_exit(kExited);
  if (plan.change == Change::FolderToLink) {
    const std::string aside = fs::path(t.folder).parent_path() / kAsideName;
    const bool moved = rename(AT_FDCWD, t.folder.c_str(), AT_FDCWD, aside.c_str()) == 0;
    const bool linked = moved && symlink(plan.outsideFolder.c_str(), t.folder.c_str()) == 0;
    s.seen.asideBesideWatched = moved && t.folder == plan.watched;
    s.seen.made = (linked ? "" : "failed: ") + when + "folder " +
                  (t.folder == plan.watched ? std::string(".") : Relative(t.folder)) +
                  " replaced by a link";
    return;
  }
  if (Exists(t.path)) {
    rename(AT_FDCWD, t.path.c_str(), AT_FDCWD, (t.folder + "/" + kAsideName).c_str());
  }
  int made = -1;
  switch (plan.change) {
    case Change::LinkToFile:
      made = symlink(plan.outsideFile.c_str(), t.path.c_str());
      break;
    case Change::LinkToFolder:
      made = symlink(plan.outsideFolder.c_str(), t.path.c_str());
      break;
    case Change::Fifo:
      made = NEXT("mknodat", MknodAtFn)(AT_FDCWD, t.path.c_str(), S_IFIFO | 0666, 0);
      if (made == 0) Remember(t.path);
      break;
    case Change::Device:
      made = NEXT("mknodat", MknodAtFn)(AT_FDCWD, t.path.c_str(), S_IFCHR | 0666, makedev(1, 3));
      if (made == 0) Remember(t.path);
      if (made != 0 && (errno == EPERM || errno == EACCES))
        s.seen.skipped = std::string("no right to make a device (") + std::strerror(errno) + ")";
      break;
    case Change::HardLink:
      made = NEXT("link", LinkFn)(plan.outsideFile.c_str(), t.path.c_str());
      break;
    case Change::Folder:
      made = NEXT("mkdir", MkdirFn)(t.path.c_str(), 0777);
      break;
    case Change::FolderToLink:
    case Change::Exit:
      break;
  }
  s.seen.made = (made == 0 ? "" : std::string("failed (") + std::strerror(errno) + "): ") + when +
                ChangeName(plan.change) + " at " + Relative(t.path);
}

// One call on up to two names: counts those below the watched folder and
// makes the change at the planned one, before or after the call.
class Call {
 public:
  Call(const char* function, std::initializer_list<std::pair<int, const char*>> names)
      : watching_(Watching()) {
    if (!watching_) return;
    tInside = true;
    State& s = TheState();
    for (const auto& [dirfd, name] : names) {
      std::optional<Target> t = Below(dirfd, name);
      if (!t) continue;
      std::lock_guard lock(s.mutex);
      const long index = ++s.count;
      s.seen.calls.push_back(std::string(function) + " " + Relative(t->path));
      if (index != s.plan.at) continue;
      if (s.plan.when == When::Before) {
        MakeChange(*t);
      } else {
        after_ = std::move(t);
      }
    }
  }
  ~Call() {
    if (!watching_) return;
    const int saved = errno;
    if (after_) {
      std::lock_guard lock(TheState().mutex);
      MakeChange(*after_);
    }
    tInside = false;
    errno = saved;
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  // Whether an open of `name` in `dirfd` with `flags` would reach a FIFO or
  // a device made here; it is then noted. Looked up as the open would.
  bool Refused(const char* function, int dirfd, const char* name, int flags) const {
    // A path descriptor opens nothing, a folder's open refuses anything
    // else, and an exclusive create opens nothing that was there.
    if (!watching_ || (flags & (O_PATH | O_DIRECTORY)) != 0 || name == nullptr ||
        (flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL)) {
      return false;
    }
    struct stat st {};
    const int follow = (flags & O_NOFOLLOW) != 0 ? AT_SYMLINK_NOFOLLOW : 0;
    if (NEXT("fstatat", FstatAtFn)(dirfd, name, &st, follow) != 0) return false;
    if (!S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode) && !S_ISBLK(st.st_mode)) return false;
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    if (s.nodes.count({st.st_dev, st.st_ino}) == 0) return false;
    std::optional<Target> t = Below(dirfd, name);
    s.seen.violations.push_back(std::string(function) + " opened " +
                                (S_ISFIFO(st.st_mode) ? "a FIFO at " : "a device at ") +
                                (t ? Relative(t->path) : std::string(name)));
    errno = EACCES;
    return true;
  }

 private:
  bool watching_;
  std::optional<Target> after_;
};

// An open that reached something outside the destination, through a link
// put on its way, is noted: nothing the code under test opens lies there,
// and a nameless scratch file made there would leave no other trace.
void NoteIfOutside(const char* function, int fd) {
  State& s = TheState();
  if (fd < 0 || !s.armed.load(std::memory_order_acquire)) return;
  std::string at = FolderOf(fd);
  constexpr std::string_view kDeleted = " (deleted)";
  if (at.ends_with(kDeleted)) at.resize(at.size() - kDeleted.size());
  std::lock_guard lock(s.mutex);
  const std::string outside = fs::path(s.plan.outsideFolder).parent_path().string();
  if (at == outside || at.starts_with(outside + "/")) {
    s.seen.violations.push_back(std::string(function) + " opened " + at +
                                ", outside the destination");
  }
}

mode_t ModeArgument(int flags, va_list& args) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
}

}  // namespace

const char* ChangeName(Change change) {
  switch (change) {
    case Change::LinkToFile:
      return "link to the outside file";
    case Change::LinkToFolder:
      return "link to the outside folder";
    case Change::Fifo:
      return "FIFO";
    case Change::Device:
      return "device";
    case Change::HardLink:
      return "hard link to the outside file";
    case Change::Folder:
      return "folder";
    case Change::FolderToLink:
      return "its folder replaced by a link";
    case Change::Exit:
      return "the process ended";
  }
  return "";
}

void Arm(Plan plan) {
  State& s = TheState();
  {
    std::lock_guard lock(s.mutex);
    s.plan = std::move(plan);
    s.count = 0;
    s.seen = Seen{};
    s.nodes.clear();
  }
  s.armed.store(true, std::memory_order_release);
}

Seen Disarm() {
  State& s = TheState();
  s.armed.store(false, std::memory_order_release);
  std::lock_guard lock(s.mutex);
  return std::move(s.seen);
}

}  // namespace sweep

// The entry points. Each counts its names, refuses an open that would reach
// a FIFO or device made here, and hands the call on.
using sweep::Call;

namespace {

int OpenAt(const char* function, int dirfd, const char* path, int flags, mode_t mode) {
  const Call call(function, {{dirfd, path}});
  if (call.Refused(function, dirfd, path, flags)) return -1;
  const int fd = NEXT("openat", int(int, const char*, int, ...))(dirfd, path, flags, mode);
  sweep::NoteIfOutside(function, fd);
  return fd;
}

FILE* FOpen(const char* function, const char* path, const char* mode) {
  const Call call(function, {{AT_FDCWD, path}});
  if (call.Refused(function, AT_FDCWD, path, 0)) return nullptr;
  FILE* file = NEXT("fopen", FILE * (const char*, const char*))(path, mode);
  if (file) sweep::NoteIfOutside(function, ::fileno(file));
  return file;
}

}  // namespace

extern "C" {

// The open calls, whose mode comes only with O_CREAT or O_TMPFILE.
#define FORWARD_OPEN(fn, params, dirfd)                   \
  int fn params {                                         \
    va_list args;                                         \
    va_start(args, flags);                                \
    const mode_t mode = sweep::ModeArgument(flags, args); \
    va_end(args);                                         \
    return OpenAt(#fn, dirfd, path, flags, mode);         \
  }

FORWARD_OPEN(open, (const char* path, int flags, ...), AT_FDCWD)
FORWARD_OPEN(open64, (const char* path, int flags, ...), AT_FDCWD)
FORWARD_OPEN(openat, (int dirfd, const char* path, int flags, ...), dirfd)
FORWARD_OPEN(openat64, (int dirfd, const char* path, int flags, ...), dirfd)

int __open_2(const char* path, int flags) {
  return OpenAt("__open_2", AT_FDCWD, path, flags, 0);
}

int __open64_2(const char* path, int flags) {
  return OpenAt("__open64_2", AT_FDCWD, path, flags, 0);
}

int __openat_2(int dirfd, const char* path, int flags) {
  return OpenAt("__openat_2", dirfd, path, flags, 0);
}

int __openat64_2(int dirfd, const char* path, int flags) {
  return OpenAt("__openat64_2", dirfd, path, flags, 0);
}

int creat(const char* path, mode_t mode) {
  return OpenAt("creat", AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, mode);
}

int creat64(const char* path, mode_t mode) {
  return OpenAt("creat64", AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, mode);
}

FILE* fopen(const char* path, const char* mode) {
  return FOpen("fopen", path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
  return FOpen("fopen64", path, mode);
}

FILE* freopen(const char* path, const char* mode, FILE* stream) {
  const Call call("freopen", {{AT_FDCWD, path}});
  if (call.Refused("freopen", AT_FDCWD, path, 0)) return nullptr;
  return NEXT("freopen", FILE * (const char*, const char*, FILE*))(path, mode, stream);
}

// A call on one or two names (each {folder, name}, in parentheses), counted
// and raced, then handed on as it was.
#define NAMES(...) __VA_ARGS__
#define FORWARD(ret, fn, params, names, ...)   \
  ret fn params {                              \
    const Call call(#fn, {NAMES names});       \
    return NEXT(#fn, ret params)(__VA_ARGS__); \
  }

FORWARD(DIR*, opendir, (const char* path), ({AT_FDCWD, path}), path)
FORWARD(int, stat, (const char* path, struct stat* st), ({AT_FDCWD, path}), path, st)
FORWARD(int, stat64, (const char* path, struct stat64* st), ({AT_FDCWD, path}), path, st)
FORWARD(int, lstat, (const char* path, struct stat* st), ({AT_FDCWD, path}), path, st)
FORWARD(int, lstat64, (const char* path, struct stat64* st), ({AT_FDCWD, path}), path, st)
FORWARD(int, fstatat, (int dirfd, const char* path, struct stat* st, int flags), ({dirfd, path}),
        dirfd, path, st, flags)
FORWARD(int, fstatat64, (int dirfd, const char* path, struct stat64* st, int flags),
        ({dirfd, path}), dirfd, path, st, flags)
FORWARD(int, statx, (int dirfd, const char* path, int flags, unsigned int mask, struct statx* st),
        ({dirfd, path}), dirfd, path, flags, mask, st)
FORWARD(int, access, (const char* path, int how), ({AT_FDCWD, path}), path, how)
FORWARD(int, faccessat, (int dirfd, const char* path, int how, int flags), ({dirfd, path}), dirfd,
        path, how, flags)
FORWARD(int, mkdir, (const char* path, mode_t mode), ({AT_FDCWD, path}), path, mode)
FORWARD(int, mkdirat, (int dirfd, const char* path, mode_t mode), ({dirfd, path}), dirfd, path,
        mode)
FORWARD(int, rename, (const char* from, const char* to), ({AT_FDCWD, from}, {AT_FDCWD, to}), from,
        to)
FORWARD(int, renameat, (int fromfd, const char* from, int tofd, const char* to),
        ({fromfd, from}, {tofd, to}), fromfd, from, tofd, to)
FORWARD(int, renameat2,
        (int fromfd, const char* from, int tofd, const char* to, unsigned int flags),
        ({fromfd, from}, {tofd, to}), fromfd, from, tofd, to, flags)
FORWARD(int, unlink, (const char* path), ({AT_FDCWD, path}), path)
FORWARD(int, unlinkat, (int dirfd, const char* path, int flags), ({dirfd, path}), dirfd, path,
        flags)
FORWARD(int, rmdir, (const char* path), ({AT_FDCWD, path}), path)
FORWARD(int, remove, (const char* path), ({AT_FDCWD, path}), path)
FORWARD(int, link, (const char* from, const char* to), ({AT_FDCWD, from}, {AT_FDCWD, to}), from, to)
FORWARD(int, linkat, (int fromfd, const char* from, int tofd, const char* to, int flags),
        ({fromfd, from}, {tofd, to}), fromfd, from, tofd, to, flags)
FORWARD(int, symlink, (const char* target, const char* path), ({AT_FDCWD, path}), target, path)
FORWARD(int, symlinkat, (const char* target, int dirfd, const char* path), ({dirfd, path}), target,
        dirfd, path)
FORWARD(ssize_t, readlink, (const char* path, char* buffer, size_t size), ({AT_FDCWD, path}), path,
        buffer, size)
FORWARD(ssize_t, readlinkat, (int dirfd, const char* path, char* buffer, size_t size),
        ({dirfd, path}), dirfd, path, buffer, size)
FORWARD(int, utimensat, (int dirfd, const char* path, const struct timespec times[2], int flags),
        ({dirfd, path}), dirfd, path, times, flags)
FORWARD(int, utimes, (const char* path, const struct timeval times[2]), ({AT_FDCWD, path}), path,
        times)
FORWARD(int, lutimes, (const char* path, const struct timeval times[2]), ({AT_FDCWD, path}), path,
        times)
FORWARD(int, futimesat, (int dirfd, const char* path, const struct timeval times[2]),
        ({dirfd, path}), dirfd, path, times)
FORWARD(int, utime, (const char* path, const struct utimbuf* times), ({AT_FDCWD, path}), path,
        times)
FORWARD(int, chmod, (const char* path, mode_t mode), ({AT_FDCWD, path}), path, mode)
FORWARD(int, lchmod, (const char* path, mode_t mode), ({AT_FDCWD, path}), path, mode)
FORWARD(int, fchmodat, (int dirfd, const char* path, mode_t mode, int flags), ({dirfd, path}),
        dirfd, path, mode, flags)
FORWARD(int, chown, (const char* path, uid_t owner, gid_t group), ({AT_FDCWD, path}), path, owner,
        group)
FORWARD(int, lchown, (const char* path, uid_t owner, gid_t group), ({AT_FDCWD, path}), path, owner,
        group)
FORWARD(int, fchownat, (int dirfd, const char* path, uid_t owner, gid_t group, int flags),
        ({dirfd, path}), dirfd, path, owner, group, flags)
FORWARD(int, mknod, (const char* path, mode_t mode, dev_t device), ({AT_FDCWD, path}), path, mode,
        device)
FORWARD(int, mknodat, (int dirfd, const char* path, mode_t mode, dev_t device), ({dirfd, path}),
        dirfd, path, mode, device)
FORWARD(int, mkfifo, (const char* path, mode_t mode), ({AT_FDCWD, path}), path, mode)
FORWARD(int, mkfifoat, (int dirfd, const char* path, mode_t mode), ({dirfd, path}), dirfd, path,
        mode)
FORWARD(char*, realpath, (const char* path, char* resolved), ({AT_FDCWD, path}), path, resolved)
FORWARD(char*, canonicalize_file_name, (const char* path), ({AT_FDCWD, path}), path)
FORWARD(int, truncate, (const char* path, off_t length), ({AT_FDCWD, path}), path, length)
FORWARD(int, truncate64, (const char* path, off64_t length), ({AT_FDCWD, path}), path, length)

}  // extern "C"

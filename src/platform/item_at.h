#pragma once
// Naming an item for the *at system calls: a name in a folder held open, or
// a path of the caller's. An item named in an open folder is looked up in
// that folder alone, and a link at its own name is never followed, so every
// step on it stays inside the folder that was checked, whatever another
// process does to the paths around it meanwhile.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <compare>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace platform {

// What a look at an item gives: its stat, and its birth time where the file
// system keeps one (all zero where it keeps none). Looks that tell items
// apart take this, so that a file removed and made again at once, which can
// get the same inode number, is not taken for the one seen before.
struct Looked : stat {
  timespec birth{};
};

// What stands at `name` in `folder` (a descriptor, or AT_FDCWD for a path of
// the caller's), with `flags` as fstatat takes them (AT_SYMLINK_NOFOLLOW for
// the link itself); false with errno's value when nothing can be looked at.
bool LookAt(int folder, const char* name, Looked& st, int flags);
// The item of the descriptor `fd` (a path descriptor will do).
bool LookThrough(int fd, Looked& st);

// Which item something is, as looked at without following a link: its
// device and inode, its type (the S_IFMT bits of its mode) and its birth
// time (zero where the file system keeps none).
struct ItemId {
  dev_t dev = 0;
  ino_t ino = 0;
  mode_t type = 0;
  std::int64_t birthSeconds = 0;
  std::int64_t birthNanoseconds = 0;

  static ItemId Of(const Looked& st) {
    return {st.st_dev, st.st_ino, st.st_mode & S_IFMT, st.birth.tv_sec, st.birth.tv_nsec};
  }
  bool IsFolder() const { return type == S_IFDIR; }
  friend auto operator<=>(const ItemId&, const ItemId&) = default;
};

// A folder held open by a path descriptor, which is enough to look names up
// in it, with what it was when it was opened. The descriptor is closed when
// the last holder lets go.
class OpenFolder {
 public:
  OpenFolder(int fd, const ItemId& id) : fd_(fd), id_(id) {}
  ~OpenFolder();
  OpenFolder(const OpenFolder&) = delete;
  OpenFolder& operator=(const OpenFolder&) = delete;

  // -1 for a folder that could not be reached: every lookup in it fails.
  int fd() const { return fd_; }
  // Why an unreachable folder could not be opened (errno's value); 0 else.
  int error() const { return error_; }
  const ItemId& Id() const { return id_; }
  // `st` describes this folder.
  bool Is(const Looked& st) const { return ItemId::Of(st) == Id(); }
  // It is still the item of `name` in `parent` (a descriptor or AT_FDCWD),
  // looked up with the fstatat `flags` given.
  bool StillAt(int parent, const char* name, int flags) const;

  // Opens `name` in `parent` as a folder, with the openat `flags` given on
  // top of a path descriptor's; null with errno's value in `error`.
  static std::shared_ptr<const OpenFolder> Open(int parent, const char* name, int flags,
                                                int& error);
  // Makes the folder `name` in `parent` with `mode` (less the umask) and
  // opens it, never through a link, only when the folder opened is the one
  // made: the item found at the name right after it was made, a folder of
  // this user's. Null with errno's value in `error` otherwise: EEXIST when
  // something stood at the name already (nothing was made), kNotMade when
  // another folder took the made folder's place before it could be opened,
  // the open's own reason when it failed (ELOOP, ENOTDIR: a link or a file
  // stands there now).
  static std::shared_ptr<const OpenFolder> Make(int parent, const char* name, mode_t mode,
                                                int& error);
  static constexpr int kNotMade = ESTALE;
  // A folder that could not be opened, for the reason `error`.
  static std::shared_ptr<const OpenFolder> Unreachable(int error);

 private:
  int fd_;
  ItemId id_;
  int error_ = 0;
};
using OpenFolderRef = std::shared_ptr<const OpenFolder>;

// An item as the *at calls take it: `name` in the open folder `folder`, or,
// with AT_FDCWD, a path of the caller's (relative to the working folder).
// An item is named by path only where that is asked for in so many words,
// so that no step inside a folder held open can slip back to a path.
struct ItemAt {
  explicit ItemAt(const std::filesystem::path& path) : folder(AT_FDCWD), name(path.string()) {}
  explicit ItemAt(const std::string& path) : folder(AT_FDCWD), name(path) {}
  explicit ItemAt(const char* path) : folder(AT_FDCWD), name(path) {}
  ItemAt(int folder, std::string name) : folder(folder), name(std::move(name)) {}

  // Named in an open folder: its own name is then never followed.
  bool Anchored() const { return folder != AT_FDCWD; }
  // The fstatat and utimensat flags for the item: a path of the caller's
  // leads where its links lead; an anchored item is the link itself.
  int Follow() const { return Anchored() ? AT_SYMLINK_NOFOLLOW : 0; }
  bool Stat(Looked& st) const;
  // What stands at the item's own name, a link itself.
  bool Lstat(Looked& st) const;
  // Sets the item's permission bits. An anchored item that is a link is
  // refused, never followed.
  bool ChangeMode(mode_t mode) const;

  int folder;
  std::string name;
};

// Changes made through an item's own descriptor, so that they reach the item
// that was made or checked whatever has been put at its name since. The
// descriptor may be a path descriptor (O_PATH), as folders are held: such a
// change then goes through /proc, or, where there is none, through the
// folder opened again from itself.
bool SetTimesThrough(int fd, const timespec times[2]);
bool ChangeModeThrough(int fd, mode_t mode);

// Renames `from` to `to` without ever replacing what stands at `to`. Where
// the file system cannot rename that way, a file is given its new name as a
// second link and loses the old one, and a folder takes the place of an
// empty folder made for it: neither can replace anything either. False with
// errno's value when the name is taken or no such rename is possible.
bool RenameNoReplace(const ItemAt& from, const ItemAt& to);

// Opens the regular file at `name` in `folder` for reading, never through a
// link at that name, and without opening anything that is no regular file:
// a FIFO or a device there is only looked at, so it can neither block the
// caller nor be woken. -1 when there is no regular file to read; `st` then
// describes what stands there, or is all zero when nothing does (or it
// cannot be looked up), with errno's value saying why.
int OpenRegularFile(int folder, const char* name, Looked& st);

}  // namespace platform

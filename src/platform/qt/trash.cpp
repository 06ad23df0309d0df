#include "platform/qt/trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <QDateTime>
#include <QUrl>
#include <cstdlib>
#include <string>
#include <system_error>

#include "platform/apple_double.h"
#include "platform/atomic_file.h"

namespace platform {

namespace fs = std::filesystem;

fs::path HomeTrash() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome != nullptr && dataHome[0] == '/') return fs::path(dataHome) / "Trash";
  const char* home = std::getenv("HOME");
  return fs::path(home != nullptr ? home : "") / ".local" / "share" / "Trash";
}

namespace {

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

// Why the folder `name` in `folder` could not be opened, its open having
// failed with errno's value: a link there is named as one. `what` names it.
std::string Unusable(int folder, const char* name, const std::string& what) {
  const int reason = errno;
  struct stat st {};
  if (reason == ENOTDIR && ::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st.st_mode)) {
    return what + " is a link";
  }
  return std::generic_category().message(reason);
}

// Writes the record `info` of an item trashed under `name` into the Trash's
// info folder `infoDir`. The record is created exclusively, so two programs
// trashing the same name never take the same slot. 0, or errno's value
// (EEXIST: the slot is taken); a record that could not be written whole is
// not left behind.
int ClaimInfo(int infoDir, const std::string& name, const QByteArray& info) {
  const std::string file = name + ".trashinfo";
  const int fd =
      ::openat(infoDir, file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  int err = 0;
  const bool written = WriteAll(fd, std::string_view(info.constData(), info.size()), &err);
  if (::close(fd) != 0 && written) err = errno;
  if (err == 0) return 0;
  ::unlinkat(infoDir, file.c_str(), 0);
  return err;
}

// Moves `item` to `name` in the Trash's files folder `filesDir`, with its
// sidecar when it has one (`sidecar` not null): both go or neither, and
// nothing there is replaced. 0, or errno's value (EEXIST: a name there is
// taken). `stranded` is set where the item went but its sidecar could not
// follow, and the item could not come back either.
int MoveInto(const ItemAt& item, const ItemAt* sidecar, int filesDir, const std::string& name,
             bool& stranded) {
  const ItemAt moved(filesDir, name);
  if (!RenameNoReplace(item, moved)) return errno;
  if (sidecar == nullptr || RenameNoReplace(*sidecar, SidecarAt(moved))) return 0;
  const int reason = errno;
  stranded = !RenameNoReplace(moved, item);
  return reason;
}

// A descriptor that is closed when it goes.
struct HeldFd {
  explicit HeldFd(int fd) : fd(fd) {}
  ~HeldFd() {
    if (fd >= 0) ::close(fd);
  }
  HeldFd(const HeldFd&) = delete;
  HeldFd& operator=(const HeldFd&) = delete;
  const int fd;
};

// The device of `path`, or of the nearest folder above it that exists (a
// Trash not made yet lies on its parent's device); only a folder that is
// not there is passed over.
bool DeviceOf(fs::path path, dev_t* device) {
  for (;;) {
    struct stat st {};
    if (::fstatat(AT_FDCWD, path.c_str(), &st, 0) == 0) {
      *device = st.st_dev;
      return true;
    }
    if (errno != ENOENT || !path.has_relative_path()) return false;
    path = path.parent_path();
  }
}

// One of the Trash's own folders, `name` in the Trash `trash`: never entered
// through a link, made for this user alone when it is missing.
int OpenTrashFolder(int trash, const char* name) {
  const int flags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  const int fd = ::openat(trash, name, flags);
  if (fd >= 0 || errno != ENOENT) return fd;
  if (::mkdirat(trash, name, 0700) != 0 && errno != EEXIST) return -1;
  return ::openat(trash, name, flags);
}

// The Trash folder itself, made for this user alone when it is missing:
// never entered through a link, and only a folder of this user's, as the
// Trash of a volume must be. -1 with the reason in `why` when it cannot be
// used.
int OpenTrashTop(const fs::path& trash, std::string& why) {
  const int flags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::open(trash.c_str(), flags);
  if (fd < 0 && errno == ENOENT) {
    std::error_code ec;
    fs::create_directories(trash.parent_path(), ec);
    if (ec) {
      errno = ec.value();
    } else if (::mkdir(trash.c_str(), 0700) == 0 || errno == EEXIST) {
      fd = ::open(trash.c_str(), flags);
    }
  }
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid()) return fd;
  why = fd >= 0 ? "it is not a folder of this user's" : Unusable(AT_FDCWD, trash.c_str(), "it");
  if (fd >= 0) ::close(fd);
  return -1;
}

// The top folder of the volume that holds the folder `folder`: the highest
// folder above it still on its device.
fs::path VolumeTop(const fs::path& folder) {
  std::error_code ec;
  fs::path top = fs::canonical(folder, ec);
  if (ec) return {};
  struct stat st {};
  if (::stat(top.c_str(), &st) != 0) return {};
  while (top.has_relative_path()) {
    struct stat above {};
    if (::stat(top.parent_path().c_str(), &above) != 0) return {};
    if (above.st_dev != st.st_dev) break;
    top = top.parent_path();
  }
  return top;
}

// A folder only this user may enter, made when missing. One that is there
// already must be a real folder of this user's: a link, or someone else's
// folder, would let the trashed item be read or lead it elsewhere.
bool PrivateFolder(const fs::path& path) {
  if (::mkdir(path.c_str(), 0700) == 0) ::chmod(path.c_str(), 0700);
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

}  // namespace

fs::path VolumeTrash(const fs::path& top) {
  const std::string uid = std::to_string(::getuid());
  // A shared .Trash made by the administrator is used only as the desktop
  // does: a real folder with the sticky bit, so no user can remove another's.
  const fs::path shared = top / ".Trash";
  struct stat st {};
  const bool looked = ::lstat(shared.c_str(), &st) == 0;
  if (!looked && errno != ENOENT) return {};
  if (looked && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0 && PrivateFolder(shared / uid)) {
    return shared / uid;
  }
  const fs::path own = top / (".Trash-" + uid);
  return PrivateFolder(own) ? own : fs::path();
}

namespace {

// The Trash for an item on `device`, whose absolute path is `source`. Empty
// when there is none; `unusable` then names the volume's own Trash folder,
// where it is that which cannot be used.
fs::path TrashOn(dev_t device, const fs::path& source, const fs::path& homeTrash,
                 fs::path& unusable) {
  dev_t homeDevice = 0;
  if (DeviceOf(homeTrash, &homeDevice) && homeDevice == device) return homeTrash;
  const fs::path top = VolumeTop(source.parent_path());
  if (top.empty()) return top;
  fs::path trash = VolumeTrash(top);
  if (trash.empty()) unusable = top / (".Trash-" + std::to_string(::getuid()));
  return trash;
}

}  // namespace

fs::path TrashFor(const fs::path& item, const fs::path& homeTrash) {
  std::error_code ec;
  const fs::path source = fs::absolute(item, ec);
  struct stat st {};
  fs::path unusable;
  if (ec || ::lstat(source.c_str(), &st) != 0) return {};
  return TrashOn(st.st_dev, source, homeTrash, unusable);
}

bool MoveToTrash(const fs::path& item, const fs::path& homeTrash, std::string* error,
                 fs::path* unusableTrash) {
  std::error_code ec;
  const fs::path source = fs::absolute(item, ec);
  if (ec) {
    SetError(error, "The item to move to the Trash does not exist.");
    return false;
  }
  return MoveToTrash(ItemAt(source), source, homeTrash, error, unusableTrash);
}

bool MoveToTrash(const ItemAt& item, const fs::path& source, const fs::path& homeTrash,
                 std::string* error, fs::path* unusableTrash) {
  struct stat st {};
  if (!item.Lstat(st)) {
    SetError(error, errno == ENOENT ? std::string("The item to move to the Trash does not exist.")
                                    : "The item to move to the Trash could not be looked at: " +
                                          std::generic_category().message(errno));
    return false;
  }
  // A volume whose Trash cannot be used has it looked at again below, so
  // that the reason says why.
  fs::path volumeTrash;
  fs::path trash = TrashOn(st.st_dev, source, homeTrash, volumeTrash);
  if (trash.empty()) trash = volumeTrash;
  if (trash.empty()) {
    SetError(error, "The item's volume has no Trash that could be used.");
    return false;
  }
  // It is the Trash itself that cannot be used: the reason names it.
  const auto unusable = [&](const std::string& why) {
    SetError(error, "The Trash folder \"" + trash.string() + "\" cannot be used: " + why);
    if (unusableTrash != nullptr) *unusableTrash = trash;
    return false;
  };
  // Held from here on, so the record and the item go into the same Trash.
  std::string why;
  const HeldFd top(OpenTrashTop(trash, why));
  if (top.fd < 0) return unusable(why);
  const HeldFd files(OpenTrashFolder(top.fd, "files"));
  if (files.fd < 0) return unusable(Unusable(top.fd, "files", "its files folder"));
  const HeldFd infos(OpenTrashFolder(top.fd, "info"));
  if (infos.fd < 0) return unusable(Unusable(top.fd, "info", "its info folder"));

  const QByteArray info =
      "[Trash Info]\nPath=" +
      QUrl::toPercentEncoding(QString::fromStdString(source.lexically_normal().string()), "/") +
      "\nDeletionDate=" + QDateTime::currentDateTime().toString(Qt::ISODate).left(19).toUtf8() +
      "\n";
  // Its fork and Finder information go with it, rather than stay behind
  // under its old name; a `._` file of the user's that is no AppleDouble
  // sidecar is not the item's and stays.
  const ItemAt sidecar = SidecarAt(item);
  int unreadable = 0;
  const bool withSidecar = IsAppleDoubleFile(sidecar.name, sidecar.folder, unreadable);
  if (unreadable != 0) {
    SetError(error, "The item's sidecar could not be read: " +
                        std::generic_category().message(unreadable));
    return false;
  }
  const std::string base = source.filename().string();
  int claimed = 0;
  for (int n = 1; n < 10000; ++n) {
    const std::string name = n == 1 ? base : base + "." + std::to_string(n);
    claimed = ClaimInfo(infos.fd, name, info);
    if (claimed == EEXIST) continue;
    if (claimed != 0) break;
    bool stranded = false;
    const int moved = MoveInto(item, withSidecar ? &sidecar : nullptr, files.fd, name, stranded);
    if (moved == 0) return true;
    // The item is in the Trash, and keeps its record there.
    if (stranded) {
      SetError(error, "The item went to the Trash, but its sidecar could not follow it: " +
                          std::generic_category().message(moved));
      return false;
    }
    // No record stays for an item that is not in the Trash.
    ::unlinkat(infos.fd, (name + ".trashinfo").c_str(), 0);
    if (moved == EEXIST) continue;
    SetError(error,
             "The item could not be moved to the Trash: " + std::generic_category().message(moved));
    return false;
  }
  // A name too long for its record, or taken as often as it can be, is the
  // item's; anything else that keeps the record out is the Trash's.
  if (claimed != 0 && claimed != EEXIST && claimed != ENAMETOOLONG) {
    return unusable("its record of the item could not be written: " +
                    std::generic_category().message(claimed));
  }
  SetError(error, "The Trash's record of the item could not be written.");
  return false;
}

}  // namespace platform

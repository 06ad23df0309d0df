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
// taken).
int MoveInto(const ItemAt& item, const ItemAt* sidecar, int filesDir, const std::string& name) {
  const ItemAt moved(filesDir, name);
  if (!RenameNoReplace(item, moved)) return errno;
  if (sidecar == nullptr || RenameNoReplace(*sidecar, SidecarAt(moved))) return 0;
  const int reason = errno;
  // An item whose name was taken meanwhile cannot come back: it stays in
  // the Trash with its record, rather than be lost there without one.
  if (!RenameNoReplace(moved, item)) return 0;
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
// Trash not made yet lies on its parent's device).
bool DeviceOf(fs::path path, dev_t* device) {
  for (;;) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
      *device = st.st_dev;
      return true;
    }
    if (!path.has_relative_path()) return false;
    path = path.parent_path();
  }
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
    if (::stat(top.parent_path().c_str(), &above) != 0 || above.st_dev != st.st_dev) break;
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
  if (::lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0 &&
      PrivateFolder(shared / uid)) {
    return shared / uid;
  }
  const fs::path own = top / (".Trash-" + uid);
  return PrivateFolder(own) ? own : fs::path();
}

namespace {

// The Trash for an item on `device`, whose absolute path is `source`.
fs::path TrashOn(dev_t device, const fs::path& source, const fs::path& homeTrash) {
  dev_t homeDevice = 0;
  if (DeviceOf(homeTrash, &homeDevice) && homeDevice == device) return homeTrash;
  const fs::path top = VolumeTop(source.parent_path());
  return top.empty() ? top : VolumeTrash(top);
}

}  // namespace

fs::path TrashFor(const fs::path& item, const fs::path& homeTrash) {
  std::error_code ec;
  const fs::path source = fs::absolute(item, ec);
  struct stat st {};
  if (ec || ::lstat(source.c_str(), &st) != 0) return {};
  return TrashOn(st.st_dev, source, homeTrash);
}

bool MoveToTrash(const fs::path& item, const fs::path& homeTrash, std::string* error) {
  std::error_code ec;
  const fs::path source = fs::absolute(item, ec);
  if (ec) {
    SetError(error, "The item to move to the Trash does not exist.");
    return false;
  }
  return MoveToTrash(ItemAt(source), source, homeTrash, error);
}

bool MoveToTrash(const ItemAt& item, const fs::path& source, const fs::path& homeTrash,
                 std::string* error) {
  struct stat st {};
  if (!item.Lstat(st)) {
    SetError(error, "The item to move to the Trash does not exist.");
    return false;
  }
  const fs::path trash = TrashOn(st.st_dev, source, homeTrash);
  if (trash.empty()) {
    SetError(error, "The item's volume has no Trash that could be used.");
    return false;
  }
  const fs::path filesDir = trash / "files";
  const fs::path infoDir = trash / "info";
  std::error_code ec;
  fs::create_directories(filesDir, ec);
  if (!ec) fs::create_directories(infoDir, ec);
  if (ec) {
    SetError(error, "The Trash folder could not be created: " + ec.message());
    return false;
  }
  // Held from here on, so the record and the item go into the same Trash.
  const HeldFd files(::open(filesDir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  const HeldFd infos(::open(infoDir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (files.fd < 0 || infos.fd < 0) {
    SetError(error,
             "The Trash folder could not be created: " + std::generic_category().message(errno));
    return false;
  }

  const QByteArray info =
      "[Trash Info]\nPath=" +
      QUrl::toPercentEncoding(QString::fromStdString(source.lexically_normal().string()), "/") +
      "\nDeletionDate=" + QDateTime::currentDateTime().toString(Qt::ISODate).left(19).toUtf8() +
      "\n";
  // Its fork and Finder information go with it, rather than stay behind
  // under its old name; a `._` file of the user's that is no AppleDouble
  // sidecar is not the item's and stays.
  const ItemAt sidecar = SidecarAt(item);
  const bool withSidecar = IsAppleDoubleFile(sidecar.name, sidecar.folder);
  const std::string base = source.filename().string();
  for (int n = 1; n < 10000; ++n) {
    const std::string name = n == 1 ? base : base + "." + std::to_string(n);
    const int claimed = ClaimInfo(infos.fd, name, info);
    if (claimed == EEXIST) continue;
    if (claimed != 0) break;
    const int moved = MoveInto(item, withSidecar ? &sidecar : nullptr, files.fd, name);
    if (moved == 0) return true;
    // No record stays for an item that is not in the Trash.
    ::unlinkat(infos.fd, (name + ".trashinfo").c_str(), 0);
    if (moved == EEXIST) continue;
    SetError(error,
             "The item could not be moved to the Trash: " + std::generic_category().message(moved));
    return false;
  }
  SetError(error, "The Trash's record of the item could not be written.");
  return false;
}

}  // namespace platform

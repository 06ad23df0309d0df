#include "platform/qt/trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <QDateTime>
#include <QFile>
#include <QUrl>
#include <cstdlib>
#include <string>
#include <system_error>

#include "platform/apple_double.h"

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

// Claims a name in the Trash by creating its .trashinfo exclusively, so two
// programs trashing the same name never take the same slot.
bool ClaimInfo(const fs::path& infoDir, const std::string& base, const QByteArray& info,
               std::string* name, fs::path* infoPath) {
  for (int n = 1; n < 10000; ++n) {
    const std::string candidate = n == 1 ? base : base + "." + std::to_string(n);
    const fs::path path = infoDir / (candidate + ".trashinfo");
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
      if (file.exists()) continue;
      return false;
    }
    if (file.write(info) != info.size() || !file.flush()) {
      file.close();
      QFile::remove(file.fileName());
      return false;
    }
    file.close();
    *name = candidate;
    *infoPath = path;
    return true;
  }
  return false;
}

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

  const QByteArray info =
      "[Trash Info]\nPath=" +
      QUrl::toPercentEncoding(QString::fromStdString(source.lexically_normal().string()), "/") +
      "\nDeletionDate=" + QDateTime::currentDateTime().toString(Qt::ISODate).left(19).toUtf8() +
      "\n";
  std::string name;
  fs::path infoPath;
  if (!ClaimInfo(infoDir, source.filename().string(), info, &name, &infoPath)) {
    SetError(error, "The Trash's record of the item could not be written.");
    return false;
  }
  const fs::path moved = filesDir / name;
  if (::renameat(item.folder, item.name.c_str(), AT_FDCWD, moved.c_str()) != 0) {
    const std::string reason = std::generic_category().message(errno);
    fs::remove(infoPath, ec);
    SetError(error, "The item could not be moved to the Trash: " + reason);
    return false;
  }
  // Its fork and Finder information go with it, rather than stay behind
  // under its old name.
  const ItemAt sidecar = SidecarAt(item);
  if (IsAppleDoubleFile(sidecar.name, sidecar.folder)) {
    ::renameat(sidecar.folder, sidecar.name.c_str(), AT_FDCWD, AppleDoubleSidecar(moved).c_str());
  }
  return true;
}

}  // namespace platform

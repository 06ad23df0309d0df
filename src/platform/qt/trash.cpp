#include "platform/qt/trash.h"

#include <QDateTime>
#include <QFile>
#include <QUrl>
#include <cstdlib>
#include <system_error>

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

}  // namespace

bool MoveToTrash(const fs::path& item, const fs::path& trash, std::string* error) {
  std::error_code ec;
  const fs::path source = fs::absolute(item, ec);
  if (ec || !fs::exists(fs::symlink_status(source, ec))) {
    SetError(error, "The item to move to the Trash does not exist.");
    return false;
  }
  const fs::path filesDir = trash / "files";
  const fs::path infoDir = trash / "info";
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
  fs::rename(source, filesDir / name, ec);
  if (ec) {
    const std::string reason = ec.message();
    fs::remove(infoPath, ec);
    SetError(error, "The item could not be moved to the Trash: " + reason);
    return false;
  }
  return true;
}

}  // namespace platform

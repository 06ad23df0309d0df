#include "update/program_place.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "platform/item_at.h"
#include "platform/qt/trash.h"

namespace update {

namespace fs = std::filesystem;

ProgramPlace LocateProgram(const fs::path& executableDir) {
  const fs::path dir = executableDir.lexically_normal();
  const fs::path named = dir.has_filename() ? dir : dir.parent_path();
  const std::string name = named.filename().string();
  const std::string suffix = ".app";
  if (name.size() > suffix.size() && name.ends_with(suffix)) {
    return {named.parent_path(), named};
  }
  return {named, {}};
}

OldCopy TrashOldCopy(int folder, const ProgramPlace& place, const fs::path& trash) {
  const platform::ItemAt old(folder, kOldBundleName);
  struct stat st {
  }, running{};
  if (!old.Lstat(st)) return errno == ENOENT ? OldCopy::None : OldCopy::Kept;
  if (!S_ISDIR(st.st_mode)) return OldCopy::Kept;
  // Someone may have started the old copy itself: it stays where it runs.
  if (!place.Bundle.empty() && ::stat(place.Bundle.c_str(), &running) == 0 &&
      running.st_dev == st.st_dev && running.st_ino == st.st_ino) {
    return OldCopy::Kept;
  }
  std::error_code ec;
  const fs::path source = fs::absolute(place.Folder / kOldBundleName, ec);
  return !ec && platform::MoveToTrash(old, source, trash) ? OldCopy::Trashed : OldCopy::Kept;
}

fs::path ExecutableOf(const fs::path& item) {
  std::error_code ec;
  if (fs::is_directory(item, ec)) return item / kBundleExecutable;
  return item;
}

}  // namespace update

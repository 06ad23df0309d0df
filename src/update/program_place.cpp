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
  if (name.size() <= suffix.size() || !name.ends_with(suffix)) return {named, {}};
  ProgramPlace place{named.parent_path(), named};
  platform::Looked st{};
  if (platform::LookAt(AT_FDCWD, named.c_str(), st, 0)) {
    place.Running = platform::ItemId::Of(st);
  } else if (errno != ENOENT) {
    place.Running.reset();
  }
  return place;
}

AtOldName LookAtOldName(int folder, const ProgramPlace& place) {
  platform::Looked st{};
  if (!platform::ItemAt(folder, kOldBundleName).Lstat(st)) {
    return errno == ENOENT ? AtOldName::Nothing : AtOldName::Unknown;
  }
  if (!S_ISDIR(st.st_mode)) return AtOldName::Other;
  // Someone may have started the old copy itself: it stays where it runs,
  // and so does any copy while the running one is not known.
  return !place.Running || *place.Running == platform::ItemId::Of(st) ? AtOldName::Running
                                                                      : AtOldName::OldBundle;
}

OldCopy TrashOldCopy(int folder, const ProgramPlace& place, const fs::path& trash) {
  switch (LookAtOldName(folder, place)) {
    case AtOldName::Nothing:
      return OldCopy::None;
    case AtOldName::OldBundle:
      break;
    default:
      return OldCopy::Kept;
  }
  std::error_code ec;
  const fs::path source = fs::absolute(place.Folder / kOldBundleName, ec);
  const platform::ItemAt old(folder, kOldBundleName);
  return !ec && platform::MoveToTrash(old, source, trash) ? OldCopy::Trashed : OldCopy::Kept;
}

fs::path ExecutableOf(const fs::path& item) {
  std::error_code ec;
  if (fs::is_directory(item, ec)) return item / kBundleExecutable;
  return item;
}

}  // namespace update

#include "update/installation.h"

#include <unistd.h>

#include <algorithm>
#include <system_error>
#include <vector>

#include "platform/folder_item.h"
#include "platform/qt/trash.h"

namespace update {

namespace fs = std::filesystem;

namespace {

bool Exists(const fs::path& p) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(p, ec));
}

// A link is never followed: a link named like a folder of the update must not
// lead the merge out of the program's folder.
bool IsRealFolder(const fs::path& p) {
  std::error_code ec;
  return fs::is_directory(fs::symlink_status(p, ec));
}

std::vector<fs::path> Children(const fs::path& folder) {
  std::vector<fs::path> items;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    items.push_back(it->path());
  }
  std::sort(items.begin(), items.end());
  return items;
}

// A bundle whose executable cannot be started, or no bundle at all, would
// leave the user with no copy that runs once the old one has made way for it.
bool Runnable(const fs::path& bundle) {
  const fs::path executable = bundle / kBundleExecutable;
  std::error_code ec;
  return fs::is_regular_file(executable, ec) && ::access(executable.c_str(), X_OK) == 0;
}

// Puts `from` at `to` as extraction into `to`'s folder would have left it.
bool MoveInto(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  if (IsRealFolder(to) && IsRealFolder(from)) {
    for (const fs::path& child : Children(from)) {
      if (!MoveInto(child, to / child.filename())) return false;
    }
    fs::remove(from, ec);
    return !ec;
  }
  // A file is not put over a folder, as extraction refuses it.
  if (IsRealFolder(to)) return false;
  fs::rename(from, to, ec);
  return !ec;
}

}  // namespace

Installation::Installation(ProgramPlace program, fs::path trash, const fs::path& archive)
    : folder_(std::move(program.Folder)),
      running_(std::move(program.Bundle)),
      trash_(std::move(trash)),
      staging_(folder_ / ("." + archive.stem().string() + ".unpacking")) {}

Installation::~Installation() {
  Discard();
}

fs::path Installation::Bundle() const {
  return folder_ / kBundleName;
}

bool Installation::Prepare() {
  Discard();
  std::error_code ec;
  return fs::create_directory(staging_, ec) && !ec;
}

void Installation::Discard() {
  std::error_code ec;
  fs::remove_all(staging_, ec);
}

Installation::Outcome Installation::Publish() {
  // With a bundle to replace, an archive that holds none is refused too.
  const bool replacing = Exists(Bundle());
  if (replacing && (!Runnable(staging_ / kBundleName) || !SwapBundle())) {
    Discard();
    return Outcome::Failed;
  }
  for (const fs::path& item : Children(staging_)) {
    if (MoveInto(item, folder_ / item.filename())) continue;
    if (replacing) UnswapBundle();
    Discard();
    return Outcome::Failed;
  }
  Discard();
  return replacing ? Outcome::NewBundle : Outcome::Placed;
}

// The old bundle keeps its sidecar through the rename; it never replaces an
// item that already bears the "OLD " name.
bool Installation::SwapBundle() {
  if (!ClearOldName()) return false;
  platform::FolderItem old(Bundle());
  if (!old.SetName(kOldBundleName)) return false;
  std::error_code ec;
  fs::rename(staging_ / kBundleName, Bundle(), ec);
  if (!ec) return true;
  platform::FolderItem(folder_ / kOldBundleName).SetName(kBundleName);
  return false;
}

// A copy left under the "OLD " name (one the Trash could not take at the
// last start) would otherwise block every update from now on.
bool Installation::ClearOldName() {
  const fs::path old = folder_ / kOldBundleName;
  if (!Exists(old)) return true;
  if (IsRunningBundle(old, {folder_, running_})) return false;
  return platform::MoveToTrash(old, trash_);
}

void Installation::UnswapBundle() {
  std::error_code ec;
  fs::remove_all(Bundle(), ec);
  platform::FolderItem(folder_ / kOldBundleName).SetName(kBundleName);
}

}  // namespace update

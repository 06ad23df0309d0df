#include "update/installation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/folder_tree.h"
#include "platform/qt/trash.h"

namespace update {

namespace fs = std::filesystem;
using platform::OpenFolder;

namespace {

bool LstatAt(int folder, const char* name, struct stat& st) {
  return ::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// `name` in `folder` as a folder, never through a link, and only the one
// `st` describes.
platform::OpenFolderRef FolderAt(int folder, const char* name, const struct stat& st) {
  int error = 0;
  platform::OpenFolderRef opened = OpenFolder::Open(folder, name, O_NOFOLLOW, error);
  return opened && opened->Is(st) ? opened : nullptr;
}

// All below `folder` is what unpacking makes: real folders, and regular
// files with no other name. A link, a FIFO, a device, or a file that is
// also linked elsewhere was put there by someone else.
bool OnlyUnpackedItems(int folder) {
  for (const std::string& name : platform::FolderNames(folder)) {
    struct stat st {};
    if (!LstatAt(folder, name.c_str(), st)) return false;
    if (S_ISREG(st.st_mode) && st.st_nlink == 1) continue;
    if (!S_ISDIR(st.st_mode)) return false;
    const platform::OpenFolderRef inside = FolderAt(folder, name.c_str(), st);
    if (!inside || !OnlyUnpackedItems(inside->fd())) return false;
  }
  return true;
}

// A bundle whose executable cannot be started, or no bundle at all, would
// leave the user with no copy that runs once the old one has made way for it.
bool Runnable(int staging) {
  struct stat st {};
  if (!LstatAt(staging, kBundleName, st) || !S_ISDIR(st.st_mode)) return false;
  const platform::OpenFolderRef bundle = FolderAt(staging, kBundleName, st);
  return bundle && LstatAt(bundle->fd(), kBundleExecutable, st) && S_ISREG(st.st_mode) &&
         ::faccessat(bundle->fd(), kBundleExecutable, X_OK, AT_EACCESS) == 0;
}

// Puts `name` of the folder `from` into the folder `to` as extraction there
// would have left it: a folder merges with one there, anything else takes
// its own place.
bool MoveInto(int from, int to, const std::string& name) {
  struct stat source {
  }, target{};
  if (!LstatAt(from, name.c_str(), source) ||
      !(S_ISDIR(source.st_mode) || S_ISREG(source.st_mode))) {
    return false;
  }
  if (LstatAt(to, name.c_str(), target) && S_ISDIR(target.st_mode)) {
    // A file is not put over a folder, as extraction refuses it.
    if (!S_ISDIR(source.st_mode)) return false;
    const platform::OpenFolderRef inner = FolderAt(from, name.c_str(), source);
    const platform::OpenFolderRef outer = FolderAt(to, name.c_str(), target);
    if (!inner || !outer) return false;
    for (const std::string& child : platform::FolderNames(inner->fd())) {
      if (!MoveInto(inner->fd(), outer->fd(), child)) return false;
    }
    return ::unlinkat(from, name.c_str(), AT_REMOVEDIR) == 0;
  }
  return ::renameat(from, name.c_str(), to, name.c_str()) == 0;
}

}  // namespace

Installation::Installation(ProgramPlace program, fs::path trash, const fs::path& archive)
    : folder_(std::move(program.Folder)),
      running_(std::move(program.Bundle)),
      trash_(std::move(trash)),
      staging_(folder_ / ("." + archive.stem().string() + ".unpacking")),
      stagingName_(staging_.filename().string()) {}

Installation::~Installation() {
  Discard();
}

fs::path Installation::Bundle() const {
  return folder_ / kBundleName;
}

platform::FolderItem Installation::InProgramFolder(const char* name) const {
  return platform::FolderItem(folder_ / name, programFolder_);
}

platform::FolderItem Installation::StagingItem() const {
  return programFolder_ ? platform::FolderItem(staging_, programFolder_)
                        : platform::FolderItem(staging_);
}

bool Installation::StagingInPlace() const {
  return programFolder_ && stagingFolder_ &&
         stagingFolder_->StillAt(programFolder_->fd(), stagingName_.c_str(), AT_SYMLINK_NOFOLLOW);
}

bool Installation::Prepare() {
  Discard();
  int error = 0;
  // The program's folder is where the caller says it is; from here on it
  // is held.
  programFolder_ = OpenFolder::Open(AT_FDCWD, folder_.empty() ? "." : folder_.c_str(), 0, error);
  if (!programFolder_) return false;
  const int program = programFolder_->fd();
  platform::RemoveTree(program, stagingName_);
  if (::mkdirat(program, stagingName_.c_str(), 0700) != 0) return false;
  stagingFolder_ = OpenFolder::Open(program, stagingName_.c_str(), O_NOFOLLOW, error);
  return stagingFolder_ != nullptr;
}

void Installation::Discard() {
  if (!stagingFolder_) return;
  const int staging = stagingFolder_->fd();
  for (const std::string& name : platform::FolderNames(staging))
    platform::RemoveTree(staging, name);
  // Only the folder made for this installation goes, not one put at its
  // name since.
  if (StagingInPlace()) ::unlinkat(programFolder_->fd(), stagingName_.c_str(), AT_REMOVEDIR);
  stagingFolder_.reset();
}

Installation::Outcome Installation::Publish() {
  if (!StagingInPlace() || !OnlyUnpackedItems(stagingFolder_->fd())) {
    Discard();
    return Outcome::Failed;
  }
  const int program = programFolder_->fd(), staging = stagingFolder_->fd();
  // With a bundle to replace, an archive that holds none is refused too.
  struct stat st {};
  const bool replacing = LstatAt(program, kBundleName, st);
  if (replacing && (!Runnable(staging) || !SwapBundle())) {
    Discard();
    return Outcome::Failed;
  }
  for (const std::string& name : platform::FolderNames(staging)) {
    if (MoveInto(staging, program, name)) continue;
    if (replacing) UnswapBundle();
    Discard();
    return Outcome::Failed;
  }
  Discard();
  return replacing ? Outcome::NewBundle : Outcome::Placed;
}

// The old bundle keeps its sidecar through the rename; it never replaces an
// item that already bears the "OLD " name, and the new one never replaces
// an item put at the bundle's name meanwhile.
bool Installation::SwapBundle() {
  if (!ClearOldName()) return false;
  if (!InProgramFolder(kBundleName).SetName(kOldBundleName)) return false;
  if (platform::RenameNoReplace(platform::ItemAt(stagingFolder_->fd(), kBundleName),
                                platform::ItemAt(programFolder_->fd(), kBundleName))) {
    return true;
  }
  InProgramFolder(kOldBundleName).SetName(kBundleName);
  return false;
}

// A copy left under the "OLD " name (one the Trash could not take at the
// last start) would otherwise block every update from now on.
bool Installation::ClearOldName() {
  const int program = programFolder_->fd();
  struct stat old {
  }, running{};
  if (!LstatAt(program, kOldBundleName, old)) return true;
  if (!running_.empty() && ::stat(running_.c_str(), &running) == 0 &&
      running.st_dev == old.st_dev && running.st_ino == old.st_ino) {
    return false;
  }
  return platform::MoveToTrash(platform::ItemAt(program, kOldBundleName), folder_ / kOldBundleName,
                               trash_);
}

void Installation::UnswapBundle() {
  platform::RemoveTree(programFolder_->fd(), kBundleName);
  InProgramFolder(kOldBundleName).SetName(kBundleName);
}

}  // namespace update

#include "update/installation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

#include "platform/qt/trash.h"
#include "update/publish_moves.h"
#include "update/update_messages.h"

namespace update {

namespace fs = std::filesystem;
using platform::ItemId;
using platform::LookAt;
using platform::OpenFolder;
using platform::TreeItem;

namespace {

// No item of that name.
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// A bundle whose executable cannot be started, or no bundle at all, would
// leave the user with no copy that runs once the old one has made way for it.
bool Runnable(int staging) {
  struct stat st {};
  if (!LookAt(staging, kBundleName, st)) return false;
  const platform::OpenFolderRef bundle =
      platform::OpenChecked(staging, kBundleName, ItemId::Of(st));
  return bundle && LookAt(bundle->fd(), kBundleExecutable, st) && S_ISREG(st.st_mode) &&
         ::faccessat(bundle->fd(), kBundleExecutable, X_OK, AT_EACCESS) == 0;
}

// Removes the folder `folder` holds, which stands at `name` in `parent`,
// with all it holds; only while it is still the folder at that name.
bool RemoveHeld(int parent, const std::string& name, const OpenFolder& folder) {
  return platform::EmptyFolder(folder.fd()) &&
         folder.StillAt(parent, name.c_str(), AT_SYMLINK_NOFOLLOW) &&
         ::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0;
}

std::string Quoted(const fs::path& path) {
  return "\"" + (path.empty() ? std::string(".") : path.string()) + "\".";
}

}  // namespace

Installation::Installation(ProgramPlace program, fs::path trash, const fs::path& archive)
    : folder_(std::move(program.Folder)),
      running_(std::move(program.Bundle)),
      trash_(std::move(trash)),
      staging_(folder_ / ("." + archive.stem().string() + ".unpacking")),
      stagingName_(staging_.filename().string()),
      kept_(folder_ / ("." + archive.stem().string() + ".replaced")),
      keptName_(kept_.filename().string()) {}

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
  trouble_ = Trouble::None;
  moves_ = 0;
  int error = 0;
  // The program's folder is where the caller says it is; from here on it
  // is held.
  programFolder_ = OpenFolder::Open(AT_FDCWD, folder_.empty() ? "." : folder_.c_str(), 0, error);
  if (!programFolder_) return false;
  const int program = programFolder_->fd();
  // What an earlier try could not put back is the user's: it goes back
  // first, or stays where the user was told it is.
  if (!RecoverEarlierTry()) {
    trouble_ = Trouble::KeptStays;
    return false;
  }
  // An update interrupted before it could tidy up left its staging folder;
  // one that stays would stop every update from now on, so the user is told.
  if (!platform::RemoveTree(program, stagingName_)) {
    trouble_ = Trouble::LeftoverStays;
    return false;
  }
  stagingFolder_ = OpenFolder::Make(program, stagingName_.c_str(), 0700, error);
  return stagingFolder_ != nullptr;
}

// A kept folder stays only where a try could not take back all it changed
// (or was stopped): the running copy may still bear its "OLD " name, with
// nothing at its own, and what was set aside is in the kept folder.
bool Installation::RecoverEarlierTry() {
  const int program = programFolder_->fd();
  struct stat st {};
  if (!LookAt(program, keptName_, st)) return errno == ENOENT;
  bool back = true;
  if (!LookAt(program, kBundleName, st)) {
    if (errno != ENOENT) {
      back = false;
    } else if (LookAt(program, kOldBundleName, st)) {
      back = !S_ISDIR(st.st_mode) || UnswapBundle();
    } else {
      back = errno == ENOENT;
    }
  }
  back = PutBackKept(program, keptName_, [this] { return BeforeMove(); }) && back;
  return back && ::unlinkat(program, keptName_.c_str(), AT_REMOVEDIR) == 0;
}

bool Installation::Discard() {
  if (!stagingFolder_) return true;
  // Only the folder made for this installation goes, not one put at its
  // name since.
  const bool gone =
      programFolder_ && RemoveHeld(programFolder_->fd(), stagingName_, *stagingFolder_);
  stagingFolder_.reset();
  return gone;
}

std::string Installation::FailureMessage() const {
  switch (trouble_) {
    case Trouble::LeftoverStays:
      return kLeftoverStaysMessage + Quoted(staging_);
    case Trouble::KeptStays:
      return kKeptStaysMessage + Quoted(kept_);
    case Trouble::OldNameTaken:
      return kOldNameTakenMessage + Quoted(folder_ / kOldBundleName);
    case Trouble::TrashUnusable:
      return kTrashUnusableMessage + Quoted(unusableTrash_);
    case Trouble::NotAllPutBack: {
      std::string message = kNotAllPutBackMessage;
      message += renamedBack_ ? kCopyInPlaceText : kCopyRenamedText;
      if (itemsKept_) message += kKeptInText + Quoted(kept_);
      if (newItemsStay_) message += kNewFilesStayText + Quoted(folder_);
      return message;
    }
    case Trouble::None:
      break;
  }
  return kNotInstalledMessage;
}

bool Installation::BeforeMove() {
  if (!BeforeEachMove || BeforeEachMove(moves_++)) return true;
  errno = EIO;
  return false;
}

Installation::Outcome Installation::Publish(const platform::MadeItems& made) {
  trouble_ = Trouble::None;
  moves_ = 0;
  if (!StagingInPlace()) {
    Discard();
    return Outcome::Failed;
  }
  const int program = programFolder_->fd();
  // What the job made, read once: every move checks its item against it.
  const std::optional<std::vector<TreeItem>> read =
      platform::ReadTree(program, stagingName_, stagingFolder_->Id());
  // With a bundle to replace, an archive that holds none is refused too;
  // a bundle that cannot be looked at is never taken for none.
  struct stat st {};
  const bool replacing = LookAt(program, kBundleName, st);
  const bool looked = replacing || errno == ENOENT;
  // The item `name` at the top of what the job made.
  const auto top = [&](const std::string& name) {
    const auto it = std::find_if(read->begin(), read->end(), [&](const TreeItem& item) {
      return item.parent == TreeItem::kTreeTop && item.name == name;
    });
    return it == read->end() ? kNone : static_cast<std::size_t>(it - read->begin());
  };
  const auto madeByJob = [&](const TreeItem& item) { return Unpacked(item) && made.Has(item.id); };
  // Only what the job made, and nothing at the install's own folders' names.
  const bool acceptable = looked && read && std::all_of(read->begin(), read->end(), madeByJob) &&
                          top(stagingName_) == kNone && top(keptName_) == kNone;
  const std::size_t bundle = acceptable ? top(kBundleName) : kNone;
  if (!acceptable || (replacing && (bundle == kNone || !Runnable(stagingFolder_->fd())))) {
    Discard();
    return Outcome::Failed;
  }
  const bool placed = Place(*read, replacing, bundle);
  Discard();
  if (!placed) return Outcome::Failed;
  return replacing ? Outcome::NewBundle : Outcome::Placed;
}

// The moves themselves, and their undo when any fails. What was set aside
// goes with the kept folder once all is in place; after a failure, the kept
// folder goes only when all is back.
bool Installation::Place(const std::vector<TreeItem>& made, bool replacing, std::size_t bundle) {
  const int program = programFolder_->fd();
  int error = 0;
  keptFolder_ = OpenFolder::Make(program, keptName_.c_str(), 0700, error);
  if (!keptFolder_) return false;
  bool placed = true, swapped = false, oldAside = false;
  std::size_t beforeSwap = 0;
  {
    PublishMoves moves(program, stagingFolder_->fd(), keptFolder_->fd(), made,
                       [this] { return BeforeMove(); });
    if (replacing) {
      // An old copy at the "OLD " name makes way like any item; the new
      // bundle then takes the old one's place, whole.
      placed = SetOldCopyAside(moves, oldAside);
      beforeSwap = moves.Moves();
      placed = placed && (swapped = SwapBundle());
    }
    // A bundle is never merged into one that has come to stand there.
    if (bundle != kNone) placed = placed && moves.PlaceWhole(bundle);
    placed = placed && moves.PlaceAll() && (!oldAside || TrashOldCopySetAside());
    if (!placed) {
      bool undone = moves.Undo(beforeSwap);
      renamedBack_ = !swapped || UnswapBundle();
      undone = moves.Undo() && undone;
      itemsKept_ = moves.ItemsKept();
      newItemsStay_ = moves.NewItemsStay();
      if (!undone || !renamedBack_) trouble_ = Trouble::NotAllPutBack;
    }
  }
  // Once in place, what was replaced goes; after a failure, only the
  // folders made to keep things in, when all is back.
  if (placed) {
    // It goes with the staging folder; where it cannot be moved there, on
    // its own.
    const bool moved = keptFolder_->StillAt(program, keptName_.c_str(), AT_SYMLINK_NOFOLLOW) &&
                       platform::RenameNoReplace(platform::ItemAt(program, keptName_),
                                                 platform::ItemAt(stagingFolder_->fd(), keptName_));
    if (!moved) RemoveHeld(program, keptName_, *keptFolder_);
  } else if (trouble_ != Trouble::NotAllPutBack &&
             PutBackKept(program, keptName_, [] { return false; })) {
    ::unlinkat(program, keptName_.c_str(), AT_REMOVEDIR);
  }
  keptFolder_.reset();
  return placed;
}

bool Installation::SetOldCopyAside(PublishMoves& moves, bool& aside) {
  switch (LookAtOldName(programFolder_->fd(), {folder_, running_})) {
    case AtOldName::Nothing:
      return true;
    case AtOldName::OldBundle:
      return aside = moves.SetAside(kOldBundleName);
    case AtOldName::Other:
      trouble_ = Trouble::OldNameTaken;
      return false;
    case AtOldName::Running:
    case AtOldName::Unknown:
      break;
  }
  return false;
}

// Only once the new copy is in place: until then it can come back.
bool Installation::TrashOldCopySetAside() {
  std::error_code ec;
  const fs::path source = fs::absolute(folder_ / kOldBundleName, ec);
  fs::path unusable;
  if (!ec && BeforeMove() &&
      platform::MoveToTrash(platform::ItemAt(keptFolder_->fd(), kOldBundleName), source, trash_,
                            nullptr, &unusable)) {
    return true;
  }
  unusableTrash_ = unusable;
  trouble_ = unusable.empty() ? Trouble::OldNameTaken : Trouble::TrashUnusable;
  return false;
}

// The old bundle keeps its sidecar through the rename; it never replaces an
// item that already bears the "OLD " name (the new one, moved in next, never
// replaces an item put at the bundle's name meanwhile either).
bool Installation::SwapBundle() {
  return BeforeMove() && InProgramFolder(kBundleName).SetName(kOldBundleName);
}

// Once the new bundle has been taken out again.
bool Installation::UnswapBundle() {
  return BeforeMove() && InProgramFolder(kOldBundleName).SetName(kBundleName);
}

}  // namespace update

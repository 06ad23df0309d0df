#include "update/installation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/apple_double.h"
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

// A look or an open that failed with `error` found no item of the kind
// looked for: the release is refused for what it holds, and no failure of
// the disk's is to be told.
bool Refused(int error) {
  return error == 0 || error == ENOENT || error == ENOTDIR || error == ELOOP || error == EACCES ||
         error == ESTALE;
}

// A bundle whose executable cannot be started, or no bundle at all, would
// leave the user with no copy that runs once the old one has made way for it.
// False with errno's value: 0 where what stands there is no such bundle.
bool Runnable(int staging) {
  platform::Looked st{};
  if (!LookAt(staging, kBundleName, st)) return false;
  const platform::OpenFolderRef bundle =
      platform::OpenChecked(staging, kBundleName, ItemId::Of(st));
  if (!bundle || !LookAt(bundle->fd(), kBundleExecutable, st)) return false;
  errno = 0;
  return S_ISREG(st.st_mode) && ::faccessat(bundle->fd(), kBundleExecutable, X_OK, AT_EACCESS) == 0;
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
    : folder_(program.Folder),
      place_(std::move(program)),
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

platform::FolderItem Installation::StagingItem() const {
  return programFolder_ ? platform::FolderItem(staging_, programFolder_)
                        : platform::FolderItem(staging_);
}

bool Installation::StagingInPlace() const {
  return programFolder_ && stagingFolder_ &&
         stagingFolder_->StillAt(programFolder_->fd(), stagingName_.c_str(), AT_SYMLINK_NOFOLLOW);
}

JournalFolders Installation::Folders() const {
  return {programFolder_->fd(), stagingName_, keptName_};
}

bool Installation::Fail(int error) {
  return Fail(std::generic_category().message(error));
}

bool Installation::Fail(const std::string& reason) {
  if (reason_.empty()) reason_ = reason;
  return false;
}

bool Installation::Prepare() {
  Discard();
  trouble_ = Trouble::None;
  left_.clear();
  reason_.clear();
  moves_ = 0;
  int error = 0;
  // The program's folder is where the caller says it is; from here on it
  // is held.
  programFolder_ = OpenFolder::Open(AT_FDCWD, folder_.empty() ? "." : folder_.c_str(), 0, error);
  if (!programFolder_) return Fail(error);
  const int program = programFolder_->fd();
  // What an earlier try changed goes back first, or stays where the user is
  // told it is.
  if (!RecoverEarlierTry()) return false;
  // An update interrupted before it could tidy up left its staging folder;
  // one that stays would stop every update from now on, so the user is told.
  if (!platform::RemoveTree(program, stagingName_)) {
    trouble_ = Trouble::LeftoverStays;
    return Fail(errno);
  }
  stagingFolder_ = OpenFolder::Make(program, stagingName_.c_str(), 0700, error);
  return stagingFolder_ != nullptr || Fail(error);
}

// A kept folder stays only where a try did not end: stopped, or not able to
// take back all it changed. Its journal says what that was.
bool Installation::RecoverEarlierTry() {
  const int program = programFolder_->fd();
  platform::Looked st{};
  const bool looked = LookAt(program, keptName_, st);
  if (!looked && errno == ENOENT) return true;
  if (looked) keptFolder_ = platform::OpenChecked(program, keptName_, ItemId::Of(st));
  const std::optional<JournalContents> journal =
      keptFolder_ ? Journal::Read(keptFolder_->fd(), keptName_) : std::nullopt;
  // Stopped before its journal was begun, an install has moved nothing.
  if (journal || (keptFolder_ && errno == ENOENT)) {
    const bool back = TakeBackAll(journal.value_or(JournalContents{}));
    keptFolder_.reset();
    if (!back && trouble_ == Trouble::NotAllPutBack) trouble_ = Trouble::EarlierLeft;
    return back;
  }
  trouble_ = Trouble::KeptStays;
  keptFolder_.reset();
  return Fail(errno);
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

namespace {

// The item that `left` names to the user: its place in the program's folder.
std::string ProgramPath(const StepLeft& left) {
  return left.step.role == Role::In ? left.step.to.path : left.step.from.path;
}

}  // namespace

std::string Installation::FailureMessage() const {
  std::string message = kNotInstalledMessage;
  switch (trouble_) {
    case Trouble::LeftoverStays:
      message = kLeftoverStaysMessage + Quoted(staging_);
      break;
    case Trouble::KeptStays:
      message = kKeptStaysMessage + Quoted(kept_);
      break;
    case Trouble::OldNameTaken:
      message = kOldNameTakenMessage + Quoted(folder_ / kOldBundleName);
      break;
    case Trouble::TrashUnusable:
      message = kTrashUnusableMessage + Quoted(unusableTrash_);
      break;
    case Trouble::NotAllPutBack:
    case Trouble::EarlierLeft: {
      message =
          trouble_ == Trouble::EarlierLeft ? kEarlierNotPutBackMessage : kNotAllPutBackMessage;
      const auto any = [&](Role role, Stands where) {
        return std::any_of(left_.begin(), left_.end(), [&](const StepLeft& l) {
          return l.step.role == role && l.where == where;
        });
      };
      message += any(Role::Running, Stands::Moved) ? kCopyRenamedText : kCopyInPlaceText;
      if (any(Role::Aside, Stands::Moved)) message += kKeptInText + Quoted(kept_);
      if (any(Role::In, Stands::Moved)) message += kNewFilesStayText + Quoted(folder_);
      if (any(Role::Trashed, Stands::Moved)) message += kInTrashText + Quoted(trash_);
      std::string lost;
      for (const StepLeft& l : left_) {
        if (l.where != Stands::Unknown) continue;
        lost += (lost.empty() ? "" : ", ") + ("\"" + (folder_ / ProgramPath(l)).string() + "\"");
      }
      if (!lost.empty()) message += kNotFoundText + lost + ".";
      break;
    }
    case Trouble::None:
      break;
  }
  if (!reason_.empty()) message += kReasonText + reason_ + ".";
  return message;
}

bool Installation::BeforeMove() {
  if (!BeforeEachMove || BeforeEachMove(moves_++)) return true;
  errno = EIO;
  return false;
}

Installation::Outcome Installation::Publish(const platform::MadeItems& made) {
  trouble_ = Trouble::None;
  left_.clear();
  reason_.clear();
  moves_ = 0;
  errno = 0;
  if (!StagingInPlace()) {
    if (!Refused(errno)) Fail(errno);
    Discard();
    return Outcome::Failed;
  }
  const int program = programFolder_->fd();
  // What the job made, read once: every move checks its item against it.
  const std::optional<std::vector<TreeItem>> read =
      platform::ReadTree(program, stagingName_, stagingFolder_->Id());
  if (!read) Fail(errno);
  // With a bundle to replace, an archive that holds none is refused too;
  // a bundle that cannot be looked at is never taken for none.
  platform::Looked st{};
  const bool replacing = LookAt(program, kBundleName, st);
  const bool looked = replacing || errno == ENOENT || Fail(errno);
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
    if (acceptable && !Refused(errno)) Fail(errno);
    Discard();
    return Outcome::Failed;
  }
  const bool placed = Place(*read, replacing, bundle);
  Discard();
  if (!placed) return Outcome::Failed;
  return replacing ? Outcome::NewBundle : Outcome::Placed;
}

// The moves themselves, each written to the journal first; once all is in
// place, what was set aside goes to the Trash and the journal says it is
// done. Any failure on the way is taken back from the journal.
bool Installation::Place(const std::vector<TreeItem>& made, bool replacing, std::size_t bundle) {
  const int program = programFolder_->fd();
  int error = 0;
  keptFolder_ = OpenFolder::Make(program, keptName_.c_str(), 0700, error);
  if (!keptFolder_) return Fail(error);
  std::error_code ec;
  const fs::path trash = platform::TrashFor(fs::absolute(folder_, ec), trash_);
  journal_ = Journal::Create(keptFolder_->fd(), keptName_, trash.string());
  bool placed = journal_ != nullptr || Fail(errno);
  if (placed) {
    PublishMoves moves(program, stagingFolder_->fd(), keptFolder_->fd(), made, *journal_,
                       [this] { return BeforeMove(); });
    // An old copy at the "OLD " name makes way like any item; the new
    // bundle then takes the old one's place, whole, never merged into one
    // that has come to stand there.
    placed = (!replacing || (SetOldCopyAside(moves) && SwapBundle(moves))) &&
             (bundle == kNone || moves.PlaceWhole(bundle)) && moves.PlaceAll();
    if (!placed && moves.Error() != 0) Fail(moves.Error());
  }
  placed = placed && TrashSetAside() && (journal_->Done() || Fail(errno));
  const JournalContents written = journal_ ? journal_->Written() : JournalContents{};
  journal_.reset();
  // Once in place, only the kept folder goes, now empty (where it cannot
  // yet, the next try tidies it, its journal saying all is done); after a
  // failure, everything goes back first.
  if (placed) {
    RemoveKept();
  } else {
    TakeBackAll(written);
  }
  keptFolder_.reset();
  return placed;
}

bool Installation::TakeBackAll(const JournalContents& journal) {
  const TakenBack taken = TakeBack(Folders(), journal, [this] { return BeforeMove(); });
  if (taken.error != 0) Fail(taken.error);
  if (!taken.Complete()) {
    left_ = taken.left;
    trouble_ = Trouble::NotAllPutBack;
    return false;
  }
  if (RemoveKept()) return true;
  trouble_ = Trouble::KeptStays;
  return false;
}

// The kept folder holds its journal and the folders made in it, all empty
// now; anything else in it stays, and so does the folder then.
bool Installation::RemoveKept() {
  const int program = programFolder_->fd();
  if (!keptFolder_) return false;
  const std::optional<std::vector<TreeItem>> tree =
      platform::ReadTree(keptFolder_->fd(), ".", keptFolder_->Id());
  if (!tree) return Fail(errno);
  platform::FolderWalk walk(keptFolder_->fd());
  for (std::size_t i = tree->size(); i-- > 0;) {
    const TreeItem& item = (*tree)[i];
    if (!item.id.IsFolder()) continue;
    // The walk to its folder: the names above it, checked on the way.
    std::vector<std::size_t> chain;
    for (std::size_t at = item.parent; at != TreeItem::kTreeTop; at = (*tree)[at].parent) {
      chain.push_back(at);
    }
    while (walk.Depth() > 0) walk.Leave();
    bool reached = true;
    for (auto at = chain.rbegin(); at != chain.rend() && reached; ++at) {
      reached = walk.Enter((*tree)[*at].name, (*tree)[*at].id);
    }
    if (reached) ::unlinkat(walk.Fd(), item.name.c_str(), AT_REMOVEDIR);
  }
  platform::Looked st{};
  if (LookAt(keptFolder_->fd(), keptName_, st) && S_ISREG(st.st_mode)) {
    ::unlinkat(keptFolder_->fd(), keptName_.c_str(), 0);
  }
  return (keptFolder_->StillAt(program, keptName_.c_str(), AT_SYMLINK_NOFOLLOW) &&
          ::unlinkat(program, keptName_.c_str(), AT_REMOVEDIR) == 0) ||
         Fail(errno);
}

bool Installation::SetOldCopyAside(PublishMoves& moves) {
  switch (LookAtOldName(programFolder_->fd(), place_)) {
    case AtOldName::Nothing:
      break;
    case AtOldName::OldBundle:
      if (!moves.SetAside(kOldBundleName)) return false;
      break;
    case AtOldName::Other:
      trouble_ = Trouble::OldNameTaken;
      return false;
    case AtOldName::Running:
      return false;
    case AtOldName::Unknown:
      return Fail(errno);
  }
  // What stands at the sidecar's name of the "OLD " name is the old copy's
  // sidecar, or, with none beside it, no one's: either way it would be
  // taken for the renamed copy's, and it makes way.
  return moves.SetAside(platform::AppleDoubleSidecarName(kOldBundleName));
}

// The running copy keeps its sidecar (an AppleDouble file beside it) through
// the rename to its "OLD " name; neither ever replaces what stands there.
bool Installation::SwapBundle(PublishMoves& moves) {
  const std::string sidecar = platform::AppleDoubleSidecarName(kBundleName);
  int unreadable = 0;
  const bool withSidecar = platform::IsAppleDoubleFile(sidecar, programFolder_->fd(), unreadable);
  if (unreadable != 0) return Fail(unreadable);
  return moves.RenameRunning(kBundleName, kOldBundleName) &&
         (!withSidecar ||
          moves.RenameRunning(sidecar, platform::AppleDoubleSidecarName(kOldBundleName)));
}

// What was set aside goes to the Trash only once the new copy is in place:
// until then it can come back. Each item's move is written first, and so is
// that of its sidecar, which the Trash takes along with it.
bool Installation::TrashSetAside() {
  const JournalContents written = journal_->Written();
  const JournalFolders folders = Folders();
  std::error_code ec;
  const fs::path folder = fs::absolute(folder_, ec);
  if (ec) return Fail(ec.message());
  // What stands set aside at each place of the kept folder.
  std::map<std::string, const Step*> aside;
  for (const Step& step : written.steps) {
    if (step.role == Role::Aside) aside[step.to.path] = &step;
  }
  const auto kept = [&](const Step* step) {
    return step != nullptr && Holds(folders, written, step->to, step->id);
  };
  for (const auto& [path, step] : aside) {
    if (!kept(step)) continue;
    const fs::path at(path);
    const auto sidecar = aside.find(
        (at.parent_path() / platform::AppleDoubleSidecarName(at.filename().string())).string());
    for (const Step* going : {sidecar == aside.end() ? nullptr : sidecar->second, step}) {
      if (kept(going) &&
          !journal_->Record({Role::Trashed, going->to, {Root::Trash, ""}, going->id}))
        return Fail(errno);
    }
    std::string error;
    fs::path unusable;
    const platform::OpenFolderRef holder = HolderOf(folders, written, step->to, false);
    if (!holder || !BeforeMove()) return Fail(errno);
    if (!platform::MoveToTrash(platform::ItemAt(holder->fd(), at.filename().string()),
                               folder / step->from.path, trash_, &error, &unusable)) {
      // The Trash itself is named where it is at fault, not what was to go.
      if (!unusable.empty()) {
        unusableTrash_ = unusable;
        trouble_ = Trouble::TrashUnusable;
      }
      return Fail(error);
    }
  }
  return true;
}

}  // namespace update

#include "update/installation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

#include "platform/folder_tree.h"
#include "platform/qt/trash.h"
#include "update/update_messages.h"

namespace update {

namespace fs = std::filesystem;
using platform::ItemId;
using platform::LookAt;
using platform::OpenFolder;
using platform::TreeItem;
using Tree = std::vector<TreeItem>;

namespace {

constexpr std::size_t kTop = TreeItem::kTreeTop;

bool LstatAt(int folder, const char* name, struct stat& st) {
  return ::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// What unpacking makes: real folders, and regular files with no other name.
// A link, a FIFO, a device, or a file that is also linked elsewhere was put
// there by someone else.
bool Unpacked(const TreeItem& item) {
  return item.id.IsFolder() || (item.id.type == S_IFREG && item.links == 1);
}

// `st` describes `item` as it was read.
bool StillIs(const TreeItem& item, const struct stat& st) {
  return ItemId::Of(st) == item.id && (item.id.IsFolder() || st.st_nlink == 1);
}

// `name` in `folder` as a folder, never through a link, and only the one
// `st` describes.
platform::OpenFolderRef FolderAt(int folder, const char* name, const struct stat& st) {
  int error = 0;
  platform::OpenFolderRef opened = OpenFolder::Open(folder, name, O_NOFOLLOW, error);
  return opened && opened->Is(st) ? opened : nullptr;
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

// The moves of one publish, item by item of what the job made, each
// remembered so that a failure can take them all back.
class Publisher {
 public:
  Publisher(int program, int staging, const Tree& made, std::function<bool()> beforeMove)
      : staging_(staging),
        made_(made),
        programIds_(made.size()),
        placed_(made.size(), false),
        from_(staging),
        to_(program),
        beforeMove_(std::move(beforeMove)) {
    for (const TreeItem& item : made) stagingIds_.push_back(item.id);
  }

  // Makes the folder of the staging folder that what is moved aside goes to,
  // before any move, under a name that no item the job made bears.
  bool MakeHoldingFolder() {
    for (int n = 0; n < 100; ++n) {
      const std::string name = ".replaced" + (n == 0 ? std::string() : " " + std::to_string(n));
      if (::mkdirat(staging_, name.c_str(), 0700) == 0) {
        int error = 0;
        holding_ = OpenFolder::Open(staging_, name.c_str(), O_NOFOLLOW, error);
        return holding_ != nullptr;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }
  // Moves the item `index` of the top of the staging folder whole, to a name
  // free in the program's folder.
  bool PlaceWhole(std::size_t index) {
    bool merged = false;
    return Move(index, true, merged);
  }
  // Moves every item not placed yet: a folder merges with a folder there, a
  // file replaces a file there.
  bool PlaceAll() {
    for (std::size_t i = 0; i < made_.size();) {
      bool merged = false;
      if (!placed_[i] && !Move(i, false, merged)) return false;
      i = merged ? i + 1 : End(i);
    }
    return true;
  }
  // Takes back every move made, the last first: what was moved in goes to
  // the holding folder, what it replaced back to its place. False when any
  // could not be.
  bool Undo() {
    bool complete = true;
    for (auto step = steps_.rbegin(); step != steps_.rend(); ++step) {
      complete &= step->replaced ? PutBack(*step) : TakeOut(*step);
    }
    steps_.clear();
    return complete;
  }

 private:
  // A move made: an item moved in, or one in the program's folder moved to
  // `slot` in the holding folder to make way; `id` is what was moved.
  struct Step {
    bool replaced;
    std::size_t index;
    std::string slot;
    ItemId id;
  };

  // The index after the item `index` and all it holds.
  std::size_t End(std::size_t index) const {
    std::size_t end = index + 1;
    while (end < made_.size() && made_[end].depth > made_[index].depth) ++end;
    return end;
  }

  // Brings `walk` into the folder that holds the items of `folder` (kTop for
  // the top), through the folders on its way, each the one `ids` names.
  bool Reach(platform::FolderWalk& walk, std::size_t folder, const std::vector<ItemId>& ids) {
    chain_.clear();
    for (std::size_t at = folder; at != kTop; at = made_[at].parent) chain_.push_back(at);
    std::reverse(chain_.begin(), chain_.end());
    std::size_t same = 0;
    while (same < walk.Depth() && same < chain_.size() &&
           walk.NameAt(same + 1) == made_[chain_[same]].name &&
           walk.IdAt(same + 1) == ids[chain_[same]]) {
      ++same;
    }
    while (walk.Depth() > same) walk.Leave();
    for (std::size_t i = same; i < chain_.size(); ++i) {
      if (!walk.Enter(made_[chain_[i]].name, ids[chain_[i]])) return false;
    }
    return walk.Fd() >= 0;
  }
  bool ReachProgram(std::size_t folder, int& to) {
    if (!Reach(to_, folder, programIds_)) return false;
    to = to_.Fd();
    return true;
  }

  bool Move(std::size_t index, bool whole, bool& merged) {
    const TreeItem& item = made_[index];
    if (!Reach(from_, item.parent, stagingIds_) || !Reach(to_, item.parent, programIds_))
      return false;
    const int from = from_.Fd(), to = to_.Fd();
    struct stat st {};
    if (!LookAt(from, item.name, st) || !StillIs(item, st)) return false;
    if (!LookAt(to, item.name, st)) return errno == ENOENT && MoveIn(index, from, to);
    const ItemId there = ItemId::Of(st);
    // Neither a file over a folder nor a folder over a file, as extraction
    // refuses them; a link there is neither.
    if (whole || there.IsFolder() != item.id.IsFolder()) return false;
    if (there.IsFolder()) {
      programIds_[index] = there;
      merged = true;
      return true;
    }
    return MakeWay(index, to) && MoveIn(index, from, to);
  }

  // Moves the item `index` in; what arrives, with all it holds, must be
  // what the job made.
  bool MoveIn(std::size_t index, int from, int to) {
    const TreeItem& item = made_[index];
    if (!Rename(platform::ItemAt(from, item.name), platform::ItemAt(to, item.name))) return false;
    placed_[index] = true;
    struct stat st {};
    const bool arrived = LookAt(to, item.name, st);
    steps_.push_back({false, index, {}, arrived ? ItemId::Of(st) : item.id});
    if (!arrived || !StillIs(item, st)) return false;
    if (!item.id.IsFolder()) return true;
    const std::optional<Tree> inside = platform::ReadTree(to, item.name, item.id);
    return inside && Matches(index, *inside);
  }

  // The items read below the folder `index` where it now stands are those
  // the job made in it.
  bool Matches(std::size_t index, const Tree& inside) const {
    const std::size_t first = index + 1, depth = made_[index].depth;
    if (inside.size() != End(index) - first) return false;
    for (std::size_t i = 0; i < inside.size(); ++i) {
      const TreeItem &found = inside[i], &made = made_[first + i];
      if (found.name != made.name || found.depth + depth != made.depth || found.id != made.id ||
          !Unpacked(found)) {
        return false;
      }
    }
    return true;
  }

  // Moves the file at the item's name in the program's folder aside.
  bool MakeWay(std::size_t index, int to) {
    const std::string& name = made_[index].name;
    std::string slot;
    if (!Hold(to, name, slot)) return false;
    struct stat st {};
    steps_.push_back(
        {true, index, slot, LookAt(holding_->fd(), slot, st) ? ItemId::Of(st) : ItemId{}});
    return true;
  }

  // Moves `name` in `folder` into the holding folder; its name there in
  // `slot`.
  bool Hold(int folder, const std::string& name, std::string& slot) {
    slot = std::to_string(slots_++);
    return Rename(platform::ItemAt(folder, name), platform::ItemAt(holding_->fd(), slot));
  }

  bool TakeOut(const Step& step) {
    const TreeItem& item = made_[step.index];
    int to = -1;
    struct stat st {};
    std::string slot;
    return ReachProgram(item.parent, to) && LookAt(to, item.name, st) &&
           ItemId::Of(st) == step.id && Hold(to, item.name, slot);
  }

  bool PutBack(const Step& step) {
    const TreeItem& item = made_[step.index];
    int to = -1;
    struct stat st {};
    if (!ReachProgram(item.parent, to) || !LookAt(holding_->fd(), step.slot, st) ||
        ItemId::Of(st) != step.id) {
      return false;
    }
    return Rename(platform::ItemAt(holding_->fd(), step.slot), platform::ItemAt(to, item.name));
  }

  // Every move goes this way; it never replaces what stands at `to`.
  bool Rename(const platform::ItemAt& from, const platform::ItemAt& to) {
    return beforeMove_() && platform::RenameNoReplace(from, to);
  }

  int staging_;
  const Tree& made_;
  std::vector<ItemId> stagingIds_;
  // The folders of the program's folder that folders of the job merged
  // with, by the index of the job's folder.
  std::vector<ItemId> programIds_;
  std::vector<bool> placed_;
  platform::FolderWalk from_, to_;
  std::vector<std::size_t> chain_;
  platform::OpenFolderRef holding_;
  int slots_ = 0;
  std::vector<Step> steps_;
  std::function<bool()> beforeMove_;
};

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
  trouble_ = Trouble::None;
  int error = 0;
  // The program's folder is where the caller says it is; from here on it
  // is held.
  programFolder_ = OpenFolder::Open(AT_FDCWD, folder_.empty() ? "." : folder_.c_str(), 0, error);
  if (!programFolder_) return false;
  const int program = programFolder_->fd();
  // An update interrupted before it could tidy up left its staging folder;
  // one that stays would stop every update from now on, so the user is told.
  if (!platform::RemoveTree(program, stagingName_)) {
    trouble_ = Trouble::LeftoverStays;
    return false;
  }
  if (::mkdirat(program, stagingName_.c_str(), 0700) != 0) return false;
  stagingFolder_ = OpenFolder::Open(program, stagingName_.c_str(), O_NOFOLLOW, error);
  return stagingFolder_ != nullptr;
}

bool Installation::Discard() {
  if (!stagingFolder_) return true;
  bool gone = platform::EmptyFolder(stagingFolder_->fd());
  // Only the folder made for this installation goes, not one put at its
  // name since.
  gone = gone && StagingInPlace() &&
         ::unlinkat(programFolder_->fd(), stagingName_.c_str(), AT_REMOVEDIR) == 0;
  stagingFolder_.reset();
  return gone;
}

std::string Installation::FailureMessage() const {
  const std::string where = "\"" + staging_.string() + "\".";
  switch (trouble_) {
    case Trouble::LeftoverStays:
      return kLeftoverStaysMessage + where;
    case Trouble::NotAllPutBack:
      return kNotAllPutBackMessage + where;
    case Trouble::OldCopyRenamed:
      return kOldCopyRenamedMessage + where;
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

Installation::Outcome Installation::Publish() {
  trouble_ = Trouble::None;
  moves_ = 0;
  if (!StagingInPlace()) {
    Discard();
    return Outcome::Failed;
  }
  const int program = programFolder_->fd(), staging = stagingFolder_->fd();
  // What the job made, read once: every move checks its item against it.
  const std::optional<Tree> made = platform::ReadTree(
      program, stagingName_, ItemId{stagingFolder_->dev(), stagingFolder_->ino(), S_IFDIR});
  if (!made || !std::all_of(made->begin(), made->end(), Unpacked)) {
    Discard();
    return Outcome::Failed;
  }
  // With a bundle to replace, an archive that holds none is refused too.
  struct stat st {};
  const bool replacing = LstatAt(program, kBundleName, st);
  const auto bundle = std::find_if(made->begin(), made->end(), [](const TreeItem& item) {
    return item.parent == kTop && item.name == kBundleName;
  });
  if (replacing && (bundle == made->end() || !Runnable(staging))) {
    Discard();
    return Outcome::Failed;
  }
  bool placed = false, undone = false, renamedBack = true;
  {
    Publisher publisher(program, staging, *made, [this] { return BeforeMove(); });
    bool swapped = false;
    placed = publisher.MakeHoldingFolder();
    if (placed && replacing) {
      // The new bundle takes the old one's place first, whole.
      swapped = SwapBundle();
      placed = swapped && publisher.PlaceWhole(static_cast<std::size_t>(bundle - made->begin()));
    }
    placed = placed && publisher.PlaceAll();
    if (!placed) {
      undone = publisher.Undo();
      renamedBack = !swapped || UnswapBundle();
    }
  }
  if (placed || (undone && renamedBack)) {
    Discard();
    if (!placed) return Outcome::Failed;
    return replacing ? Outcome::NewBundle : Outcome::Placed;
  }
  // What could not be put back is kept in the staging folder, for the user.
  trouble_ = renamedBack ? Trouble::NotAllPutBack : Trouble::OldCopyRenamed;
  stagingFolder_.reset();
  return Outcome::Failed;
}

// The old bundle keeps its sidecar through the rename; it never replaces an
// item that already bears the "OLD " name (the new one, moved in next, never
// replaces an item put at the bundle's name meanwhile either).
bool Installation::SwapBundle() {
  if (!ClearOldName()) return false;
  return BeforeMove() && InProgramFolder(kBundleName).SetName(kOldBundleName);
}

// A copy left under the "OLD " name (one the Trash could not take at the
// last start) would otherwise block every update from now on.
bool Installation::ClearOldName() {
  return TrashOldCopy(programFolder_->fd(), {folder_, running_}, trash_) != OldCopy::Kept;
}

// Once the new bundle has been taken out again.
bool Installation::UnswapBundle() {
  return BeforeMove() && InProgramFolder(kOldBundleName).SetName(kBundleName);
}

}  // namespace update

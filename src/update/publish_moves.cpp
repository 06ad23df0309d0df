#include "update/publish_moves.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "platform/apple_double.h"

namespace update {

using platform::FolderWalk;
using platform::ItemAt;
using platform::ItemId;
using platform::LookAt;
using platform::TreeItem;

namespace {

constexpr std::size_t kTop = TreeItem::kTreeTop;

// `st` describes `item` as it was read.
bool StillIs(const TreeItem& item, const platform::Looked& st) {
  return ItemId::Of(st) == item.id && (item.id.IsFolder() || st.st_nlink == 1);
}

// The folders of `tree` from the top down to `folder` (kTop: none).
std::vector<std::size_t> ChainTo(const Tree& tree, std::size_t folder) {
  std::vector<std::size_t> chain;
  for (std::size_t at = folder; at != kTop; at = tree[at].parent) chain.push_back(at);
  return {chain.rbegin(), chain.rend()};
}

// Brings `walk` into the folder `folder` of `tree` (kTop: the walk's root),
// through the folders on its way, each named as in `tree` and the one `ids`
// gives by its index.
bool ReachIn(FolderWalk& walk, const Tree& tree, std::size_t folder,
             const std::vector<ItemId>& ids) {
  const std::vector<std::size_t> chain = ChainTo(tree, folder);
  std::size_t same = 0;
  while (same < walk.Depth() && same < chain.size() &&
         walk.NameAt(same + 1) == tree[chain[same]].name &&
         walk.IdAt(same + 1) == ids[chain[same]]) {
    ++same;
  }
  while (walk.Depth() > same) walk.Leave();
  for (std::size_t i = same; i < chain.size(); ++i) {
    if (!walk.Enter(tree[chain[i]].name, ids[chain[i]])) return false;
  }
  return walk.Fd() >= 0;
}

// The identities of the items of `tree`, in its order.
std::vector<ItemId> IdsOf(const Tree& tree) {
  std::vector<ItemId> ids;
  ids.reserve(tree.size());
  for (const TreeItem& item : tree) ids.push_back(item.id);
  return ids;
}

}  // namespace

bool Unpacked(const TreeItem& item) {
  return item.id.IsFolder() || (item.id.type == S_IFREG && item.links == 1);
}

PublishMoves::PublishMoves(int program, int staging, int kept, const Tree& made,
                           std::function<bool()> beforeMove)
    : made_(made),
      stagingIds_(IdsOf(made)),
      programIds_(made.size()),
      keptIds_(made.size()),
      placed_(made.size(), false),
      from_(staging),
      to_(program),
      aside_(kept),
      beforeMove_(std::move(beforeMove)) {}

std::size_t PublishMoves::End(std::size_t index) const {
  std::size_t end = index + 1;
  while (end < made_.size() && made_[end].depth > made_[index].depth) ++end;
  return end;
}

bool PublishMoves::Reach(FolderWalk& walk, std::size_t folder, const std::vector<ItemId>& ids) {
  return ReachIn(walk, made_, folder, ids);
}

// The folders on the way in the kept folder are made as they are first
// needed, each the folder made, for this user alone.
bool PublishMoves::ReachKept(std::size_t folder, int& at) {
  const std::vector<std::size_t> chain = ChainTo(made_, folder);
  for (std::size_t i = 0; i < chain.size(); ++i) {
    if (keptIds_[chain[i]].IsFolder()) continue;
    if (!Reach(aside_, i == 0 ? kTop : chain[i - 1], keptIds_)) return false;
    int error = 0;
    const platform::OpenFolderRef made =
        platform::OpenFolder::Make(aside_.Fd(), made_[chain[i]].name.c_str(), 0700, error);
    if (!made) return false;
    keptIds_[chain[i]] = made->Id();
  }
  if (!Reach(aside_, folder, keptIds_)) return false;
  at = aside_.Fd();
  return true;
}

bool PublishMoves::SetAside(const std::string& name) {
  if (!Reach(to_, kTop, programIds_)) return false;
  const int program = to_.Fd();
  const ItemAt sidecar = platform::SidecarAt(ItemAt(program, name));
  // Looked at before the item goes: its sidecar is known by its item. One
  // that cannot be read is not left behind as no sidecar.
  int unreadable = 0;
  const bool withSidecar = platform::IsAppleDoubleFile(sidecar.name, sidecar.folder, unreadable);
  return unreadable == 0 && MoveAside(kTop, name, program) &&
         (!withSidecar || MoveAside(kTop, sidecar.name, program));
}

bool PublishMoves::PlaceWhole(std::size_t index) {
  bool merged = false;
  return Move(index, true, merged);
}

bool PublishMoves::PlaceAll() {
  for (std::size_t i = 0; i < made_.size();) {
    bool merged = false;
    if (!placed_[i] && !Move(i, false, merged)) return false;
    i = merged ? i + 1 : End(i);
  }
  return true;
}

bool PublishMoves::Move(std::size_t index, bool whole, bool& merged) {
  const TreeItem& item = made_[index];
  if (!Reach(from_, item.parent, stagingIds_) || !Reach(to_, item.parent, programIds_))
    return false;
  const int from = from_.Fd(), to = to_.Fd();
  platform::Looked st{};
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
  return MoveAside(item.parent, item.name, to) && MoveIn(index, from, to);
}

// What arrives, with all it holds, must be what the job made.
bool PublishMoves::MoveIn(std::size_t index, int from, int to) {
  const TreeItem& item = made_[index];
  if (!Rename(ItemAt(from, item.name), ItemAt(to, item.name))) return false;
  placed_[index] = true;
  platform::Looked st{};
  const bool arrived = LookAt(to, item.name, st);
  steps_.push_back({true, item.parent, item.name, arrived ? ItemId::Of(st) : item.id});
  if (!arrived || !StillIs(item, st)) return false;
  if (!item.id.IsFolder()) return true;
  const std::optional<Tree> inside = platform::ReadTree(to, item.name, item.id);
  return inside && Matches(index, *inside);
}

// The items read below the folder `index` where it now stands are those the
// job made in it.
bool PublishMoves::Matches(std::size_t index, const Tree& inside) const {
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

// Moves `name` in the program's folder `from` (which holds the items of the
// job's folder `parent`) to the same place in the kept folder.
bool PublishMoves::MoveAside(std::size_t parent, const std::string& name, int from) {
  platform::Looked st{};
  if (!LookAt(from, name, st)) return false;
  const ItemId id = ItemId::Of(st);
  int at = -1;
  if (!ReachKept(parent, at) || !Rename(ItemAt(from, name), ItemAt(at, name))) return false;
  const bool arrived = LookAt(at, name, st);
  steps_.push_back({false, parent, name, arrived ? ItemId::Of(st) : id});
  return arrived;
}

bool PublishMoves::Undo(std::size_t keep) {
  bool complete = true;
  while (steps_.size() > keep) {
    const Step step = std::move(steps_.back());
    steps_.pop_back();
    const bool undone = step.in ? TakeOut(step) : PutBack(step);
    if (!undone) (step.in ? newItemsStay_ : itemsKept_) = true;
    complete &= undone;
  }
  return complete;
}

// Moves the item of `step` back from where the walk `from` finds it (its
// folders the ones `fromIds` gives) to where `to` finds its place; only
// while it is the item that was moved.
bool PublishMoves::MoveBack(const Step& step, FolderWalk& from, const std::vector<ItemId>& fromIds,
                            FolderWalk& to, const std::vector<ItemId>& toIds) {
  platform::Looked st{};
  if (!Reach(from, step.parent, fromIds) || !LookAt(from.Fd(), step.name, st) ||
      ItemId::Of(st) != step.id || !Reach(to, step.parent, toIds)) {
    return false;
  }
  return Rename(ItemAt(from.Fd(), step.name), ItemAt(to.Fd(), step.name));
}

bool PublishMoves::TakeOut(const Step& step) {
  return MoveBack(step, to_, programIds_, from_, stagingIds_);
}

bool PublishMoves::PutBack(const Step& step) {
  return MoveBack(step, aside_, keptIds_, to_, programIds_);
}

// Every move goes this way; it never replaces what stands at `to`.
bool PublishMoves::Rename(const ItemAt& from, const ItemAt& to) {
  return beforeMove_() && platform::RenameNoReplace(from, to);
}

namespace {

// Puts each item of `tree` (read below the kept folder that `from` is rooted
// in) back into the program's folder that `to` is rooted in, where nothing
// stands at its place; a folder where a folder stands is gone into. Marks
// in `gone` what went back, with all it held.
void PutBackItems(const Tree& tree, const std::vector<ItemId>& keptIds, FolderWalk& from,
                  FolderWalk& to, const std::function<bool()>& beforeMove,
                  std::vector<bool>& gone) {
  std::vector<ItemId> programIds(tree.size());
  for (std::size_t i = 0; i < tree.size(); ++i) {
    const TreeItem& item = tree[i];
    if (item.parent != kTop && !programIds[item.parent].IsFolder()) {
      gone[i] = gone[item.parent];
      continue;
    }
    platform::Looked st{};
    if (!ReachIn(from, tree, item.parent, keptIds) || !ReachIn(to, tree, item.parent, programIds))
      continue;
    // The rename never replaces what stands there, whatever the look said.
    if (LookAt(to.Fd(), item.name, st)) {
      if (S_ISDIR(st.st_mode) && item.id.IsFolder()) programIds[i] = ItemId::Of(st);
    } else if (beforeMove()) {
      gone[i] = platform::RenameNoReplace(ItemAt(from.Fd(), item.name), ItemAt(to.Fd(), item.name));
    }
  }
}

}  // namespace

bool PutBackKept(int program, const std::string& kept, const std::function<bool()>& beforeMove) {
  platform::Looked st{};
  if (!LookAt(program, kept, st)) return false;
  const ItemId keptId = ItemId::Of(st);
  const platform::OpenFolderRef folder = platform::OpenChecked(program, kept, keptId);
  if (!folder) return false;
  // Read through the folder just checked, not by its name again.
  const std::optional<Tree> tree = platform::ReadTree(folder->fd(), ".", keptId);
  if (!tree) return false;
  const std::vector<ItemId> keptIds = IdsOf(*tree);
  std::vector<bool> gone(tree->size(), false);
  FolderWalk from(folder->fd()), to(program);
  PutBackItems(*tree, keptIds, from, to, beforeMove, gone);
  // The folders it emptied go, the deepest first; one that still holds
  // anything stays, with what it holds.
  for (std::size_t i = tree->size(); i-- > 0;) {
    const TreeItem& item = (*tree)[i];
    if (gone[i] || !item.id.IsFolder() || !ReachIn(from, *tree, item.parent, keptIds)) continue;
    if (LookAt(from.Fd(), item.name, st) && ItemId::Of(st) == item.id) {
      ::unlinkat(from.Fd(), item.name.c_str(), AT_REMOVEDIR);
    }
  }
  const std::optional<std::vector<std::string>> left = platform::FolderNames(folder->fd());
  return left && left->empty() && folder->StillAt(program, kept.c_str(), AT_SYMLINK_NOFOLLOW);
}

}  // namespace update

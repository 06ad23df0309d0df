#include "update/publish_moves.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

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

PublishMoves::PublishMoves(int program, int staging, int kept, const Tree& made, Journal& journal,
                           std::function<bool()> beforeMove)
    : made_(made),
      stagingIds_(IdsOf(made)),
      programIds_(made.size()),
      keptIds_(made.size()),
      placed_(made.size(), false),
      from_(staging),
      to_(program),
      aside_(kept),
      journal_(journal),
      beforeMove_(std::move(beforeMove)) {}

std::size_t PublishMoves::End(std::size_t index) const {
  std::size_t end = index + 1;
  while (end < made_.size() && made_[end].depth > made_[index].depth) ++end;
  return end;
}

std::string PublishMoves::PathOf(std::size_t parent, const std::string& name) const {
  std::string path;
  for (const std::size_t folder : ChainTo(made_, parent)) path += made_[folder].name + "/";
  return path + name;
}

bool PublishMoves::Failed() {
  error_ = errno;
  return false;
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
    if (!made) {
      errno = error;
      return false;
    }
    keptIds_[chain[i]] = made->Id();
  }
  if (!Reach(aside_, folder, keptIds_)) return false;
  at = aside_.Fd();
  return true;
}

bool PublishMoves::SetAside(const std::string& name) {
  if (!Reach(to_, kTop, programIds_)) return Failed();
  platform::Looked st{};
  if (!LookAt(to_.Fd(), name, st)) return errno == ENOENT || Failed();
  return MoveAside(kTop, name, to_.Fd());
}

bool PublishMoves::RenameRunning(const std::string& from, const std::string& to) {
  if (!Reach(to_, kTop, programIds_)) return Failed();
  const int program = to_.Fd();
  platform::Looked st{};
  if (!LookAt(program, from, st)) return Failed();
  const Step step{Role::Running, {Root::Program, from}, {Root::Program, to}, ItemId::Of(st)};
  return Journaled(step, ItemAt(program, from), ItemAt(program, to), st);
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
    return Failed();
  const int from = from_.Fd(), to = to_.Fd();
  platform::Looked st{};
  if (!LookAt(from, item.name, st)) return Failed();
  if (!StillIs(item, st)) return false;
  if (!LookAt(to, item.name, st)) return errno == ENOENT ? MoveIn(index, from, to) : Failed();
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
  const std::string path = PathOf(item.parent, item.name);
  const Step step{Role::In, {Root::Staging, path}, {Root::Program, path}, item.id};
  platform::Looked st{};
  if (!Journaled(step, ItemAt(from, item.name), ItemAt(to, item.name), st)) return false;
  placed_[index] = true;
  if (!StillIs(item, st)) return false;
  if (!item.id.IsFolder()) return true;
  const std::optional<Tree> inside = platform::ReadTree(to, item.name, item.id);
  if (!inside) return Failed();
  return Matches(index, *inside);
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
  if (!LookAt(from, name, st)) return Failed();
  int at = -1;
  if (!ReachKept(parent, at)) return Failed();
  const std::string path = PathOf(parent, name);
  const Step step{Role::Aside, {Root::Program, path}, {Root::Kept, path}, ItemId::Of(st)};
  return Journaled(step, ItemAt(from, name), ItemAt(at, name), st);
}

// What arrived is looked at in `arrived`. Where another item than the one
// seen was moved after all, the journal says so, so that it goes back too.
bool PublishMoves::Journaled(const Step& step, const ItemAt& from, const ItemAt& to,
                             platform::Looked& arrived) {
  if (!journal_.Record(step) || !beforeMove_() || !platform::RenameNoReplace(from, to)) {
    return Failed();
  }
  if (!LookAt(to.folder, to.name, arrived)) return Failed();
  if (ItemId::Of(arrived) == step.id) return true;
  Step moved = step;
  moved.id = ItemId::Of(arrived);
  journal_.Record(moved);
  return false;
}

}  // namespace update

#include "platform/folder_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace platform {

namespace {

// The open of `name` in `folder` as a folder failed with `error`: errno
// then says what stands there. The open refuses a link as "not a folder",
// and the making one put in place of the folder made: ELOOP for a link,
// ENOTDIR for an item that is no folder.
OpenFolderRef Refused(int folder, const std::string& name, int error) {
  Looked st{};
  if ((error == ENOTDIR || error == OpenFolder::kNotMade) && LookAt(folder, name, st)) {
    if (S_ISLNK(st.st_mode)) {
      error = ELOOP;
    } else if (!S_ISDIR(st.st_mode)) {
      error = ENOTDIR;
    }
  }
  errno = error;
  return nullptr;
}

// The names in the folder the walk stands in, which `st` describes, for
// removal. A folder of the user's own that the user may not list or change,
// as an archive's folder modes can leave one, is given those rights first:
// it is going anyway. `whole` goes false when it cannot be listed.
std::vector<std::string> NamesToRemove(FolderWalk& walk, const Looked& st, bool& whole) {
  if ((st.st_mode & S_IRWXU) != S_IRWXU && st.st_uid == ::geteuid()) {
    ChangeModeThrough(walk.Fd(), (st.st_mode & 07777) | S_IRWXU);
  }
  std::optional<std::vector<std::string>> names = walk.Names();
  whole &= names.has_value();
  return names.value_or(std::vector<std::string>{});
}

// A folder's names still to be walked.
struct Pending {
  std::vector<std::string> names;
  std::size_t next = 0;
  std::size_t index = TreeItem::kTreeTop;
};

}  // namespace

bool LookAt(int folder, const std::string& name, Looked& st) {
  return LookAt(folder, name.c_str(), st, AT_SYMLINK_NOFOLLOW);
}

std::optional<std::vector<std::string>> FolderNames(int folder) {
  const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return std::nullopt;
  }
  std::vector<std::string> names;
  for (;;) {
    // The end and a failure both come as null; only errno tells them apart.
    errno = 0;
    const dirent* e = ::readdir(dir);
    if (!e) break;
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  const int error = errno;
  ::closedir(dir);
  errno = error;
  if (error != 0) return std::nullopt;
  std::sort(names.begin(), names.end());
  return names;
}

template <typename Open>
auto FolderWalk::Retrying(std::size_t depth, Open open) -> decltype(open()) {
  for (;;) {
    auto opened = open();
    if (opened || (errno != EMFILE && errno != ENFILE)) return opened;
    const auto held = std::find_if(levels_.begin(), levels_.begin() + std::min(depth, Depth()),
                                   [](const Level& level) { return level.folder != nullptr; });
    if (held == levels_.begin() + std::min(depth, Depth())) return opened;
    held->folder.reset();
  }
}

OpenFolderRef OpenChecked(int folder, const std::string& name, const ItemId& id) {
  if (!id.IsFolder()) {
    errno = ENOTDIR;
    return nullptr;
  }
  int error = 0;
  OpenFolderRef opened = OpenFolder::Open(folder, name.c_str(), O_NOFOLLOW, error);
  if (!opened) return Refused(folder, name, error);
  if (opened->Id() != id) {
    errno = ESTALE;
    return nullptr;
  }
  return opened;
}

OpenFolderRef OpenOrMakeFolder(int folder, const std::string& name, bool make, bool* made) {
  if (made) *made = false;
  int error = 0;
  OpenFolderRef opened = OpenFolder::Open(folder, name.c_str(), O_NOFOLLOW, error);
  if (!opened && error == ENOENT && make) {
    opened = OpenFolder::Make(folder, name.c_str(), 0777, error);
    if (made) *made = opened != nullptr;
    // One made by another process since it was found missing is taken as
    // found.
    if (!opened && error == EEXIST) {
      opened = OpenFolder::Open(folder, name.c_str(), O_NOFOLLOW, error);
    }
  }
  return opened ? opened : Refused(folder, name, error);
}

template <typename Open>
bool FolderWalk::EnterWith(const std::string& name, Open open) {
  const int at = Fd();
  if (at < 0) return false;
  OpenFolderRef folder = Retrying(Depth() - 1, [&] { return open(at); });
  if (!folder) return false;
  const ItemId id = folder->Id();
  levels_.push_back(Level{name, id, std::move(folder)});
  if (levels_.size() > kHeldOpen) levels_[levels_.size() - kHeldOpen - 1].folder.reset();
  return true;
}

bool FolderWalk::Enter(const std::string& name, const ItemId& id) {
  return EnterWith(name, [&](int at) { return OpenChecked(at, name, id); });
}

bool FolderWalk::EnterOrMake(const std::string& name) {
  return EnterWith(name, [&](int at) { return OpenOrMakeFolder(at, name, true); });
}

void FolderWalk::Leave() {
  if (levels_.empty()) return;
  levels_.pop_back();
  if (reopenedDepth_ > Depth()) reopened_.reset();
}

bool FolderWalk::StillThere(std::size_t depth) {
  const Level& level = levels_[depth - 1];
  if (!level.folder) {
    // The one opened last may have been moved since; it is opened anew.
    if (reopenedDepth_ == depth) reopened_.reset();
    return Folder(depth) != nullptr;
  }
  const OpenFolderRef above = depth > 1 ? Folder(depth - 1) : nullptr;
  if (depth > 1 && !above) return false;
  Looked st{};
  if (!LookAt(above ? above->fd() : root_, level.name, st)) return false;
  if (ItemId::Of(st) == level.id) return true;
  errno = ESTALE;
  return false;
}

std::optional<std::vector<std::string>> FolderWalk::Names() {
  const int at = Fd();
  if (at < 0) return std::nullopt;
  return Retrying(Depth() - 1, [&] { return FolderNames(at); });
}

int FolderWalk::Fd() {
  if (levels_.empty()) return root_;
  // The deepest is always held once it is open.
  const OpenFolderRef folder = Folder(Depth());
  return folder ? folder->fd() : -1;
}

OpenFolderRef FolderWalk::Opened(std::size_t depth) const {
  if (depth == 0) return nullptr;
  if (levels_[depth - 1].folder) return levels_[depth - 1].folder;
  return reopenedDepth_ == depth ? reopened_ : nullptr;
}

OpenFolderRef FolderWalk::Folder(std::size_t depth) {
  if (OpenFolderRef open = Opened(depth)) return open;
  // Only the deepest are held, so none above this one is: every folder on
  // the way from the nearest one open above it (or the root) is opened
  // again, and checked, and the deepest of them are held once more.
  std::size_t from = depth;
  while (from > 1 && !Opened(from - 1)) --from;
  OpenFolderRef above = Opened(from - 1);
  for (std::size_t i = from; i <= depth; ++i) {
    const int at = above ? above->fd() : root_;
    const Level& level = levels_[i - 1];
    OpenFolderRef folder = Retrying(i - 1, [&] { return OpenChecked(at, level.name, level.id); });
    if (!folder) return nullptr;
    if (i + kHeldOpen > Depth()) levels_[i - 1].folder = folder;
    above = std::move(folder);
  }
  if (!levels_[depth - 1].folder) {
    reopened_ = above;
    reopenedDepth_ = depth;
  }
  return above;
}

std::optional<std::vector<TreeItem>> ReadTree(int folder, const std::string& name,
                                              const ItemId& id) {
  FolderWalk walk(folder);
  if (!walk.Enter(name, id)) return std::nullopt;
  std::optional<std::vector<std::string>> names = walk.Names();
  if (!names) return std::nullopt;
  std::vector<TreeItem> items;
  std::vector<Pending> pending;
  pending.push_back({std::move(*names)});
  while (!pending.empty()) {
    Pending& here = pending.back();
    if (here.next == here.names.size()) {
      pending.pop_back();
      walk.Leave();
      continue;
    }
    std::string child = std::move(here.names[here.next++]);
    const std::size_t parent = here.index;
    const int at = walk.Fd();
    Looked st{};
    if (at < 0 || !LookAt(at, child, st)) return std::nullopt;
    items.push_back({child, parent, pending.size(), ItemId::Of(st), st.st_nlink});
    if (!S_ISDIR(st.st_mode)) continue;
    if (!walk.Enter(child, items.back().id)) return std::nullopt;
    names = walk.Names();
    if (!names) return std::nullopt;
    pending.push_back({std::move(*names), 0, items.size() - 1});
  }
  return items;
}

bool EmptyFolder(int folder) {
  FolderWalk walk(folder);
  bool whole = true;
  Looked st{};
  if (!LookThrough(folder, st)) return false;
  std::vector<Pending> pending;
  pending.push_back({NamesToRemove(walk, st, whole)});
  while (!pending.empty()) {
    Pending& here = pending.back();
    const int at = walk.Fd();
    // A folder moved or replaced meanwhile is walked no further.
    if (at < 0) {
      whole = false;
      here.next = here.names.size();
    }
    if (here.next < here.names.size()) {
      const std::string& child = here.names[here.next++];
      if (!LookAt(at, child, st)) {
        whole &= errno == ENOENT;
      } else if (!S_ISDIR(st.st_mode)) {
        whole &= ::unlinkat(at, child.c_str(), 0) == 0 || errno == ENOENT;
      } else if (walk.Enter(child, ItemId::Of(st))) {
        pending.push_back({NamesToRemove(walk, st, whole)});
      } else {
        whole = false;
      }
      continue;
    }
    pending.pop_back();
    if (walk.Depth() == 0) break;
    // All below it has been tried: the folder goes too, when the one at its
    // name is still the one emptied.
    const std::string name = walk.NameAt(walk.Depth());
    const ItemId id = walk.IdAt(walk.Depth());
    walk.Leave();
    const int parent = walk.Fd();
    whole &= parent >= 0 && LookAt(parent, name, st) && ItemId::Of(st) == id &&
             ::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0;
  }
  return whole;
}

bool RemoveTree(int folder, const std::string& name) {
  Looked st{};
  if (!LookAt(folder, name, st)) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) return ::unlinkat(folder, name.c_str(), 0) == 0 || errno == ENOENT;
  const ItemId id = ItemId::Of(st);
  const OpenFolderRef inside = OpenChecked(folder, name, id);
  if (!inside || !EmptyFolder(inside->fd())) return false;
  return LookAt(folder, name, st) && ItemId::Of(st) == id &&
         ::unlinkat(folder, name.c_str(), AT_REMOVEDIR) == 0;
}

}  // namespace platform

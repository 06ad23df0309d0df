#pragma once
// Walking, reading and removing what a folder held open contains, through
// descriptors alone. Each folder is entered from the one above it, never
// through a link, and only when it is the very folder that was looked at
// (the same device and inode); a link met on the way is named or removed,
// never followed, whatever another process does to the paths around it.
//
// Only the deepest folders of a walk's path are held open, so that a tree of
// any depth takes a bounded number of descriptors, and fewer when the
// process runs short of them; a folder above them is opened again from the
// top (or from the last one opened again above it), with the same checks,
// when the walk climbs back to it. A folder that cannot be entered or
// listed fails the step: it is never taken for an empty one.
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/item_at.h"

namespace platform {

// What stands at `name` in `folder`, a link itself; false with errno's value
// when nothing can be looked at there.
bool LookAt(int folder, const std::string& name, Looked& st);

// The folder `name` in `folder`, whichever stands there now, opened never
// through a link; with `make`, one missing there is made (mode 0777 less the
// umask) and must be the folder made (see OpenFolder::Make), and `made`
// tells whether it was made here or found. Null with errno's value else:
// ELOOP for a link at the name, ENOTDIR for an item that is no folder,
// OpenFolder::kNotMade for another folder put in place of the one made.
OpenFolderRef OpenOrMakeFolder(int folder, const std::string& name, bool make,
                               bool* made = nullptr);

// `name` in `folder` as a folder, never through a link, and only the one
// `id` describes; null with errno's value else (ENOTDIR for an item that is
// no folder, ESTALE for another folder, ELOOP for a link).
OpenFolderRef OpenChecked(int folder, const std::string& name, const ItemId& id);

// The names in the folder of descriptor `folder` (a path descriptor will
// do), sorted, without "." and "..". None, with errno's value, when the
// folder cannot be opened or read to its end.
std::optional<std::vector<std::string>> FolderNames(int folder);

// A path of folders below a root folder, entered one at a time.
class FolderWalk {
 public:
  // How many of the folders entered are held open at most.
  static constexpr std::size_t kHeldOpen = 32;

  // A walk that starts in the folder of descriptor `root`, which the caller
  // keeps open while the walk lasts.
  explicit FolderWalk(int root) : root_(root) {}

  // How many folders below the root the walk stands.
  std::size_t Depth() const { return levels_.size(); }
  // The name and identity of the folder entered at `depth` (1 for the first
  // below the root, up to Depth()).
  const std::string& NameAt(std::size_t depth) const { return levels_[depth - 1].name; }
  const ItemId& IdAt(std::size_t depth) const { return levels_[depth - 1].id; }

  // Enters the folder `name` in the one the walk stands in, when it is the
  // folder `id` describes; false with errno's value else (ESTALE for
  // another item at that name, ELOOP for a link).
  bool Enter(const std::string& name, const ItemId& id);
  // Enters the folder that stands at `name` now, whichever it is, as
  // OpenOrMakeFolder opens or makes it.
  bool EnterOrMake(const std::string& name);
  // Back to the folder above; the one left is let go.
  void Leave();
  // Whether the folder entered at `depth` (1 to Depth()) still stands at its
  // name in the folder above it: one held is looked at there; one not held
  // is opened again, as Folder opens it, which is its check. False with
  // errno's value else (ESTALE for another item at the name).
  bool StillThere(std::size_t depth);
  // The folder entered at `depth` (1 to Depth()), held, or opened again as
  // Fd() opens it; null with errno's value when it cannot be.
  OpenFolderRef Folder(std::size_t depth);
  // A path descriptor of the folder the walk stands in, opened again from
  // the root when it is not held; -1 with errno's value when the folders on
  // the way are no longer the ones entered.
  int Fd();
  // The names in the folder the walk stands in, as FolderNames gives them.
  std::optional<std::vector<std::string>> Names();

 private:
  struct Level {
    std::string name;
    ItemId id;
    OpenFolderRef folder;  // null while it is not among the deepest
  };
  // What `open` gives; while it fails for want of descriptors, the folders
  // held above `depth` let theirs go one by one, shallowest first (they are
  // opened again when needed), and it is tried again.
  template <typename Open>
  auto Retrying(std::size_t depth, Open open) -> decltype(open());
  // Enters `name` as the folder that `open` opens in the one the walk
  // stands in (given its descriptor); only the deepest stay held.
  template <typename Open>
  bool EnterWith(const std::string& name, Open open);
  // The folder at `depth` while it is open, held or opened again; null else
  // (and for the root).
  OpenFolderRef Opened(std::size_t depth) const;

  int root_;
  std::vector<Level> levels_;
  // The last folder opened again that is not among the deepest, and its
  // depth: a walk that checks its way down past them opens each once.
  OpenFolderRef reopened_;
  std::size_t reopenedDepth_ = 0;
};

// One item found below a folder by ReadTree.
struct TreeItem {
  // The list's index of the folder that holds it; kTreeTop for the folder
  // read.
  static constexpr std::size_t kTreeTop = static_cast<std::size_t>(-1);
  std::string name;
  std::size_t parent;
  std::size_t depth;  // 1 for an item of the folder read
  ItemId id;
  nlink_t links;
};

// Everything below the folder `name` in `folder`, which must be the one `id`
// describes: each folder before what it holds, the names of a folder in
// sorted order, links listed and not followed. None, with errno's value,
// when a folder in it cannot be entered or listed or an item cannot be
// looked at: what could not be read is never taken for nothing.
std::optional<std::vector<TreeItem>> ReadTree(int folder, const std::string& name,
                                              const ItemId& id);

// Removes everything the folder of descriptor `folder` holds, never through
// a link, going on past what cannot be removed. False when anything stays.
bool EmptyFolder(int folder);
// Removes `name` in `folder` and, for a folder, all it holds, never through a
// link. True when nothing stands at the name any more (or never did).
bool RemoveTree(int folder, const std::string& name);

}  // namespace platform

#pragma once
// The folders on the way to the members being extracted, from the root
// down. Each is opened relative to the one above it and never through a
// link, so a member's folders cannot lead out of the root, and a folder that
// is swapped for a link after it was opened is not followed. The folders of
// one member are kept for the next: members of one folder follow each other
// in an archive, and their folders are then only checked, not looked up by
// path again.
//
// Only the deepest folders of the current path are held open, so that a
// tree of any depth takes a bounded number of descriptors; one above them
// is opened again from the nearest one held, with the same checks, when a
// walk needs it.
#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/item_at.h"

namespace zip {

class DestinationFolders {
 public:
  using FolderRef = platform::OpenFolderRef;
  // How many folders below the root are held open at most.
  static constexpr std::size_t kHeldOpen = 32;

  // Begins the walk to one member below `root`. False when the root has no
  // absolute form. Folders kept from the last walk are used again only while
  // they are still where they were.
  bool Begin(const std::filesystem::path& root);
  // The root as the walk names it: absolute, every link in it resolved.
  const std::filesystem::path& Root() const { return *rootReal_; }
  // The same, shared: it is kept by each member placed below it.
  const std::shared_ptr<const std::filesystem::path>& SharedRoot() const { return rootReal_; }

  // The folder at `depth` of the walk (0 is the root; depth n is the n-th
  // folder entered below it). The root is made when it is missing, as one
  // folder. Null with errno's value in `error` when it cannot be opened.
  FolderRef At(std::size_t depth, int& error);
  // Enters `name` in the folder at `depth`, making it when it is missing,
  // and returns it as the folder at depth + 1; what was entered below that
  // depth before is dropped. Null with `error` set when it cannot be opened:
  // ELOOP for a link, ENOTDIR for an item that is no folder.
  FolderRef Enter(std::size_t depth, const std::string& name, int& error);

  // Ends the walk. In a tree deeper than the folders held open, what lies
  // below where it ended is let go, so that the folders held are the
  // deepest of this walk's path and not of an earlier, deeper one.
  void Finish();

  // Closes every folder this object holds.
  void Release();

  // The folder at a path of the caller's, links on its way followed; null
  // with `error` set when it is no folder or cannot be opened.
  static FolderRef OpenByPath(const std::filesystem::path& folder, int& error);

 private:
  // A folder entered below the root: its name, what it was when it was
  // entered, and, while it is among the deepest, its descriptor.
  struct Level {
    std::string name;
    dev_t dev;
    ino_t ino;
    FolderRef folder;
    bool Is(const platform::OpenFolder& f) const;
  };

  // `noFollow` is O_NOFOLLOW or 0.
  static FolderRef Open(int parent, const char* name, bool create, int noFollow, int& error);
  // Level `index` is one of the deepest, whose descriptors are held.
  bool Held(std::size_t index) const { return index + kHeldOpen >= entered_.size(); }
  // Opens level `index` again from the nearest folder above it that is open.
  FolderRef Reopen(std::size_t index, int& error);

  // The root as the caller gave it, and as the walk names it.
  std::filesystem::path given_;
  std::shared_ptr<const std::filesystem::path> rootReal_ =
      std::make_shared<const std::filesystem::path>();
  FolderRef rootFolder_;
  std::vector<Level> entered_;
  // How many of them this walk has found still in place.
  std::size_t checked_ = 0;
  // The last level opened again that is not held, with its index.
  std::size_t reopenedIndex_ = 0;
  FolderRef reopened_;
};

}  // namespace zip

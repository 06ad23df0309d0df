#pragma once
// The folders on the way to the members being extracted, held open from the
// root down. Each is opened relative to the one above it and never through a
// link, so a member's folders cannot lead out of the root, and a folder that
// is swapped for a link after it was opened is not followed. The folders of
// one member are kept for the next: members of one folder follow each other
// in an archive, and their folders are then only checked, not looked up by
// path again.
#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zip {

class DestinationFolders {
 public:
  // An open folder; its descriptor is closed when the last holder lets go.
  class Folder {
   public:
    Folder(int fd, dev_t dev, ino_t ino) : fd_(fd), dev_(dev), ino_(ino) {}
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    int fd() const { return fd_; }
    // It is still the item of `name` in `parent` (a descriptor or
    // AT_FDCWD), looked up with the fstatat `flags` given.
    bool StillAt(int parent, const char* name, int flags) const;

   private:
    int fd_;
    dev_t dev_;
    ino_t ino_;
  };
  using FolderRef = std::shared_ptr<const Folder>;

  // Begins the walk to one member below `root`. False when the root has no
  // absolute form. Folders kept from the last walk are used again only while
  // they are still where they were.
  bool Begin(const std::filesystem::path& root);
  // The root as the walk names it: absolute, every link in it resolved.
  const std::filesystem::path& Root() const { return rootReal_; }

  // The folder at `depth` of the walk (0 is the root; depth n is the n-th
  // folder entered below it). The root is made when it is missing, as one
  // folder. Null with errno's value in `error` when it cannot be opened.
  FolderRef At(std::size_t depth, int& error);
  // Enters `name` in the folder at `depth`, making it when it is missing,
  // and returns it as the folder at depth + 1; what was entered below that
  // depth before is dropped. Null with `error` set when it cannot be opened:
  // ELOOP for a link, ENOTDIR for an item that is no folder.
  FolderRef Enter(std::size_t depth, const std::string& name, int& error);

  // Closes every folder this object holds.
  void Release();

  // The folder at a path of the caller's, links on its way followed; null
  // with `error` set when it is no folder or cannot be opened.
  static FolderRef OpenByPath(const std::filesystem::path& folder, int& error);

 private:
  // `noFollow` is O_NOFOLLOW or 0.
  static FolderRef Open(int parent, const char* name, bool create, int noFollow, int& error);

  std::filesystem::path root_, rootReal_;
  FolderRef rootFolder_;
  // The folders entered below the root, in order, with their names.
  std::vector<std::pair<std::string, FolderRef>> entered_;
  // How many of them this walk has found still in place.
  std::size_t checked_ = 0;
};

}  // namespace zip

#include "zip/destination_folders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace zip {

namespace fs = std::filesystem;

bool DestinationFolders::Level::Is(const platform::OpenFolder& f) const {
  return f.dev() == dev && f.ino() == ino;
}

bool DestinationFolders::Begin(const fs::path& root) {
  // The root as given may lead elsewhere now (a link on its way changed, the
  // working folder changed, or it was made anew): then nothing kept from
  // before is used. It is looked up as given, so that one given as before
  // costs one look and no more.
  if (!rootFolder_ || root.native() != given_.native() ||
      !rootFolder_->StillAt(AT_FDCWD, root.c_str(), 0)) {
    Release();
    std::error_code ec;
    const fs::path absolute = fs::absolute(root, ec);
    if (ec || absolute.empty()) return false;
    fs::path real = fs::weakly_canonical(absolute, ec);
    if (ec || real.empty()) return false;
    if (!real.has_filename() && real.has_relative_path()) real = real.parent_path();
    given_ = root;
    rootReal_ = std::make_shared<const fs::path>(std::move(real));
  }
  checked_ = 0;
  return true;
}

DestinationFolders::FolderRef DestinationFolders::At(std::size_t depth, int& error) {
  if (depth == 0) {
    // The root is the caller's choice; a link on its own way is followed.
    if (!rootFolder_) rootFolder_ = Open(AT_FDCWD, rootReal_->c_str(), true, 0, error);
    return rootFolder_;
  }
  if (depth > checked_) {
    error = ENOENT;
    return nullptr;
  }
  const std::size_t index = depth - 1;
  if (entered_[index].folder) return entered_[index].folder;
  if (reopened_ && reopenedIndex_ == index) return reopened_;
  return Reopen(index, error);
}

DestinationFolders::FolderRef DestinationFolders::Reopen(std::size_t index, int& error) {
  auto open = [&](std::size_t i) {
    return entered_[i].folder ? entered_[i].folder
                              : (reopened_ && reopenedIndex_ == i ? reopened_ : nullptr);
  };
  std::size_t from = index;
  while (from > 0 && !open(from - 1)) --from;
  FolderRef folder = from == 0 ? At(0, error) : open(from - 1);
  for (std::size_t i = from; folder && i <= index; ++i) {
    folder = Open(folder->fd(), entered_[i].name.c_str(), false, O_NOFOLLOW, error);
    if (folder && !entered_[i].Is(*folder)) {
      // Moved or replaced since it was checked: it is not walked through.
      error = ENOENT;
      folder.reset();
    }
    if (folder && Held(i)) entered_[i].folder = folder;
  }
  if (folder && !Held(index)) {
    reopened_ = folder;
    reopenedIndex_ = index;
  }
  return folder;
}

DestinationFolders::FolderRef DestinationFolders::Enter(std::size_t depth, const std::string& name,
                                                        int& error) {
  const FolderRef parent = At(depth, error);
  if (!parent) return nullptr;
  if (depth < entered_.size() && entered_[depth].name == name) {
    Level& level = entered_[depth];
    FolderRef folder;
    if (depth < checked_) {
      folder = At(depth + 1, error);
    } else if (level.folder) {
      if (level.folder->StillAt(parent->fd(), name.c_str(), AT_SYMLINK_NOFOLLOW)) {
        folder = level.folder;
      }
    } else {
      // Not held open: opening it again from its parent is its check.
      int ignored = 0;
      folder = Open(parent->fd(), name.c_str(), false, O_NOFOLLOW, ignored);
      if (folder && !level.Is(*folder)) folder.reset();
      if (folder && Held(depth)) {
        level.folder = folder;
      } else if (folder) {
        reopened_ = folder;
        reopenedIndex_ = depth;
      }
    }
    if (folder) {
      checked_ = depth + 1;
      return folder;
    }
  }
  entered_.resize(depth);
  if (reopened_ && reopenedIndex_ >= depth) reopened_.reset();
  checked_ = depth;
  FolderRef folder = Open(parent->fd(), name.c_str(), true, O_NOFOLLOW, error);
  if (!folder) return nullptr;
  entered_.push_back(Level{name, folder->dev(), folder->ino(), folder});
  if (entered_.size() > kHeldOpen) entered_[entered_.size() - kHeldOpen - 1].folder.reset();
  checked_ = depth + 1;
  return folder;
}

DestinationFolders::FolderRef DestinationFolders::Open(int parent, const char* name, bool create,
                                                       int noFollow, int& error) {
  // A path descriptor needs no right to read the folder, only to pass it,
  // as a lookup by path does.
  FolderRef folder = platform::OpenFolder::Open(parent, name, noFollow, error);
  if (!folder && error == ENOENT && create) {
    if (::mkdirat(parent, name, 0777) != 0 && errno != EEXIST) {
      error = errno;
      return nullptr;
    }
    folder = platform::OpenFolder::Open(parent, name, noFollow, error);
  }
  struct stat st {};
  // A link is refused as "not a folder" by the open; say what it is.
  if (!folder && error == ENOTDIR && noFollow != 0 &&
      ::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
    error = ELOOP;
  }
  return folder;
}

DestinationFolders::FolderRef DestinationFolders::OpenByPath(const fs::path& folder, int& error) {
  return Open(AT_FDCWD, folder.empty() ? "." : folder.c_str(), false, 0, error);
}

void DestinationFolders::Finish() {
  if (entered_.size() <= kHeldOpen || checked_ >= entered_.size()) return;
  entered_.resize(checked_);
  if (reopened_ && reopenedIndex_ >= checked_) reopened_.reset();
}

void DestinationFolders::Release() {
  entered_.clear();
  reopened_.reset();
  rootFolder_.reset();
  checked_ = 0;
  given_.clear();
  rootReal_ = std::make_shared<const fs::path>();
}

}  // namespace zip

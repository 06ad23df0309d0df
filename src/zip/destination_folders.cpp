#include "zip/destination_folders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace zip {

namespace fs = std::filesystem;

DestinationFolders::Folder::~Folder() {
  ::close(fd_);
}

bool DestinationFolders::Folder::StillAt(int parent, const char* name, int flags) const {
  struct stat st {};
  return ::fstatat(parent, name, &st, flags) == 0 && st.st_dev == dev_ && st.st_ino == ino_;
}

bool DestinationFolders::Begin(const fs::path& root) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(root, ec);
  if (ec || absolute.empty()) return false;
  // The root as given may lead elsewhere now (a link on its way changed, or
  // it was made anew): then nothing kept from before is used.
  if (absolute != root_ || !rootFolder_ || !rootFolder_->StillAt(AT_FDCWD, absolute.c_str(), 0)) {
    Release();
    fs::path real = fs::weakly_canonical(absolute, ec);
    if (ec || real.empty()) return false;
    if (!real.has_filename() && real.has_relative_path()) real = real.parent_path();
    root_ = absolute;
    rootReal_ = real;
  }
  checked_ = 0;
  return true;
}

DestinationFolders::FolderRef DestinationFolders::At(std::size_t depth, int& error) {
  if (depth == 0) {
    // The root is the caller's choice; a link on its own way is followed.
    if (!rootFolder_) rootFolder_ = Open(AT_FDCWD, rootReal_.c_str(), true, 0, error);
    return rootFolder_;
  }
  if (depth > checked_) {
    error = ENOENT;
    return nullptr;
  }
  return entered_[depth - 1].second;
}

DestinationFolders::FolderRef DestinationFolders::Enter(std::size_t depth, const std::string& name,
                                                        int& error) {
  const FolderRef parent = At(depth, error);
  if (!parent) return nullptr;
  if (depth < entered_.size() && entered_[depth].first == name &&
      (depth < checked_ ||
       entered_[depth].second->StillAt(parent->fd(), name.c_str(), AT_SYMLINK_NOFOLLOW))) {
    checked_ = depth + 1;
    return entered_[depth].second;
  }
  entered_.resize(depth);
  checked_ = depth;
  FolderRef folder = Open(parent->fd(), name.c_str(), true, O_NOFOLLOW, error);
  if (!folder) return nullptr;
  entered_.emplace_back(name, folder);
  checked_ = depth + 1;
  return folder;
}

DestinationFolders::FolderRef DestinationFolders::Open(int parent, const char* name, bool create,
                                                       int noFollow, int& error) {
  // A path descriptor needs no right to read the folder, only to pass it,
  // as a lookup by path does.
  const int flags = O_PATH | O_DIRECTORY | O_CLOEXEC | noFollow;
  int fd = ::openat(parent, name, flags);
  if (fd < 0 && errno == ENOENT && create) {
    if (::mkdirat(parent, name, 0777) != 0 && errno != EEXIST) {
      error = errno;
      return nullptr;
    }
    fd = ::openat(parent, name, flags);
  }
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    error = errno;
    if (fd >= 0) ::close(fd);
    // A link is refused as "not a folder" by the open; say what it is.
    if (error == ENOTDIR && noFollow != 0 &&
        ::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
      error = ELOOP;
    }
    return nullptr;
  }
  return std::make_shared<const Folder>(fd, st.st_dev, st.st_ino);
}

DestinationFolders::FolderRef DestinationFolders::OpenByPath(const fs::path& folder, int& error) {
  return Open(AT_FDCWD, folder.empty() ? "." : folder.c_str(), false, 0, error);
}

void DestinationFolders::Release() {
  entered_.clear();
  rootFolder_.reset();
  checked_ = 0;
  root_.clear();
  rootReal_.clear();
}

}  // namespace zip

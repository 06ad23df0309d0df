#include "zip/destination_folders.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/made_items.h"

namespace zip {

namespace fs = std::filesystem;
using platform::OpenFolder;

namespace {

// Sets the modification time `date` through the folder's descriptor.
void SetModified(const OpenFolder& folder, const timespec& date) {
  const timespec times[2] = {{0, UTIME_OMIT}, date};
  platform::SetTimesThrough(folder.fd(), times);
}

}  // namespace

fs::path DestinationFolders::GivenName() const {
  return given_.has_filename() ? given_.filename() : given_.parent_path().filename();
}

bool DestinationFolders::Level::Is(const OpenFolder& f) const {
  return f.dev() == dev && f.ino() == ino;
}

DestinationFolders::FolderRef DestinationFolders::Open(int parent, const char* name, bool create,
                                                       int& error) {
  // A path descriptor needs no right to read the folder, only to pass it,
  // as a lookup by path does.
  FolderRef folder = OpenFolder::Open(parent, name, O_NOFOLLOW, error);
  if (!folder && error == ENOENT && create) {
    const bool made = ::mkdirat(parent, name, 0777) == 0;
    if (!made && errno != EEXIST) {
      error = errno;
      return nullptr;
    }
    folder = OpenFolder::Open(parent, name, O_NOFOLLOW, error);
    if (folder && made) platform::NoteMade(folder->fd());
  }
  struct stat st {};
  // A link is refused as "not a folder" by the open; say what it is.
  if (!folder && error == ENOTDIR && ::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st.st_mode)) {
    error = ELOOP;
  }
  return folder;
}

bool DestinationFolders::Begin(const platform::FolderItem& root, bool followLinks) {
  // A root given as before is the one held: it is not looked up by its path
  // again, so a link put there since leads nowhere.
  if (rootReal_->empty() || root.Path().native() != given_.native() || root.Folder() != givenIn_) {
    Release();
    std::error_code ec;
    const fs::path absolute = fs::absolute(root.Path(), ec);
    if (ec || absolute.empty()) return false;
    // A root anchored in a folder held open is only named by its path: it is
    // never looked up that way.
    fs::path real =
        root.Folder() ? absolute.lexically_normal() : fs::weakly_canonical(absolute, ec);
    if (ec || real.empty()) return false;
    if (!real.has_filename() && real.has_relative_path()) real = real.parent_path();
    given_ = root.Path();
    givenIn_ = root.Folder();
    rootReal_ = std::make_shared<const fs::path>(std::move(real));
  }
  follow_ = followLinks;
  depth_ = 0;
  pending_.reset();
  lost_.clear();
  rootLost_ = false;
  error_ = 0;
  return true;
}

// The root is opened in its parent, never through a link at its own name:
// one that stood there when the walk began was resolved then (the caller
// named that path), and one put there since leads nowhere. A root that is
// missing is made there, and must be the folder just made, not one put in
// its place.
DestinationFolders::FolderRef DestinationFolders::RootFolder(int& error) {
  if (root_) return root_;
  FolderRef parent = givenIn_;
  const fs::path leaf = givenIn_                    ? GivenName()
                        : rootReal_->has_filename() ? rootReal_->filename()
                                                    : ".";
  if (!parent) parent = OpenFolder::Open(AT_FDCWD, rootReal_->parent_path().c_str(), 0, error);
  if (!parent) return nullptr;
  root_ = Open(parent->fd(), leaf.c_str(), false, error);
  if (root_ || error != ENOENT) return root_;
  // One made by someone else since it was found missing is taken as found.
  const bool madeHere = ::mkdirat(parent->fd(), leaf.c_str(), 0777) == 0;
  if (!madeHere && errno != EEXIST) {
    error = errno;
    return nullptr;
  }
  struct stat made {};
  const bool looked = ::fstatat(parent->fd(), leaf.c_str(), &made, AT_SYMLINK_NOFOLLOW) == 0;
  root_ = Open(parent->fd(), leaf.c_str(), false, error);
  if (root_ && madeHere && !(looked && root_->Is(made))) {
    root_.reset();
    error = kReplaced;
  }
  if (root_ && madeHere) platform::NoteMade(made);
  return root_;
}

bool DestinationFolders::Down(const std::string& name) {
  if (pending_) {
    if (!EnterPending(follow_)) return false;
  } else if (depth_ == 0 && Reachable()) {
    // The root is made with the first name below it.
    int error = 0;
    if (!RootFolder(error)) {
      rootLost_ = true;
      error_ = error;
    }
  }
  pending_ = name;
  return true;
}

bool DestinationFolders::Up() {
  if (pending_) {
    pending_.reset();
  } else if (!lost_.empty()) {
    lost_.pop_back();
  } else if (depth_ > 0) {
    --depth_;
  } else {
    return false;
  }
  return true;
}

bool DestinationFolders::EnterPending(bool followLinks) {
  std::string name = std::move(*pending_);
  pending_.reset();
  int error = 0;
  if (Reachable() && Enter(name, error)) return true;
  if (Reachable() && error == ELOOP && followLinks) {
    // The target's own last name is entered as a folder too, but never
    // through a second link.
    return FollowLink(name) && (!pending_ || EnterPending(false));
  }
  if (Reachable()) error_ = error;
  lost_.push_back(std::move(name));
  return true;
}

void DestinationFolders::Keep(std::size_t index, const FolderRef& folder) {
  if (Held(index)) {
    levels_[index].folder = folder;
  } else {
    reopened_ = folder;
    reopenedIndex_ = index;
  }
}

DestinationFolders::FolderRef DestinationFolders::Enter(const std::string& name, int& error) {
  const FolderRef parent = At(depth_, error);
  if (!parent) return nullptr;
  if (depth_ < levels_.size() && levels_[depth_].name == name) {
    Level& level = levels_[depth_];
    FolderRef folder;
    if (level.folder) {
      if (level.folder->StillAt(parent->fd(), name.c_str(), AT_SYMLINK_NOFOLLOW)) {
        folder = level.folder;
      }
    } else {
      // Not held open: opening it again from its parent is its check.
      int ignored = 0;
      folder = Open(parent->fd(), name.c_str(), false, ignored);
      if (folder && !level.Is(*folder)) folder.reset();
      if (folder) Keep(depth_, folder);
    }
    if (folder) {
      ++depth_;
      return folder;
    }
  }
  // Moved, replaced or never entered: what was kept below it goes.
  Leave(depth_);
  FolderRef folder = Open(parent->fd(), name.c_str(), true, error);
  if (!folder) return nullptr;
  levels_.push_back(Level{name, folder->dev(), folder->ino(), folder});
  if (levels_.size() > kHeldOpen) levels_[levels_.size() - kHeldOpen - 1].folder.reset();
  ++depth_;
  return folder;
}

DestinationFolders::FolderRef DestinationFolders::At(std::size_t depth, int& error) {
  if (depth == 0) return RootFolder(error);
  const std::size_t index = depth - 1;
  if (levels_[index].folder) return levels_[index].folder;
  if (reopened_ && reopenedIndex_ == index) return reopened_;
  return Reopen(index, error);
}

DestinationFolders::FolderRef DestinationFolders::Reopen(std::size_t index, int& error) {
  auto open = [&](std::size_t i) {
    return levels_[i].folder ? levels_[i].folder
                             : (reopened_ && reopenedIndex_ == i ? reopened_ : nullptr);
  };
  std::size_t from = index;
  while (from > 0 && !open(from - 1)) --from;
  FolderRef folder = from == 0 ? RootFolder(error) : open(from - 1);
  for (std::size_t i = from; folder && i <= index; ++i) {
    folder = Open(folder->fd(), levels_[i].name.c_str(), false, error);
    if (folder && !levels_[i].Is(*folder)) {
      // Moved or replaced since it was checked: it is not walked through.
      error = ENOENT;
      folder.reset();
    }
    if (folder) Keep(i, folder);
  }
  return folder;
}

bool DestinationFolders::FollowLink(const std::string& link) {
  int error = 0;
  const FolderRef folder = At(depth_, error);
  if (!folder) return false;
  char target[PATH_MAX];
  const ssize_t n = ::readlinkat(folder->fd(), link.c_str(), target, sizeof target);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) return false;
  // Where it points, as names below the root, worked out from the names
  // alone: a link on that way is then refused by the walk, not followed.
  const fs::path to(std::string(target, static_cast<std::size_t>(n)));
  std::vector<std::string> names;
  if (to.is_absolute()) {
    const fs::path below = to.lexically_normal().lexically_relative(*rootReal_);
    if (below.empty()) return false;
    for (const fs::path& part : below) names.push_back(part.string());
  } else {
    for (std::size_t i = 0; i < depth_; ++i) names.push_back(levels_[i].name);
    for (const fs::path& part : to) names.push_back(part.string());
  }
  std::vector<std::string> resolved;
  for (std::string& name : names) {
    if (name.empty() || name == ".") continue;
    if (name != "..") {
      resolved.push_back(std::move(name));
    } else if (resolved.empty()) {
      return false;
    } else {
      resolved.pop_back();
    }
  }
  depth_ = 0;
  pending_.reset();
  for (std::string& name : resolved) {
    if (pending_ && !EnterPending(false)) return false;
    pending_ = std::move(name);
  }
  return true;
}

std::optional<platform::FolderItem> DestinationFolders::End() {
  int error = 0;
  if (follow_ && pending_ && Reachable()) {
    // A link at the member's own name: the member goes where it leads.
    struct stat st {};
    const FolderRef folder = At(depth_, error);
    if (folder && ::fstatat(folder->fd(), pending_->c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode)) {
      const std::string link = std::move(*pending_);
      pending_.reset();
      if (!FollowLink(link)) return std::nullopt;
    }
  }
  // In a tree deeper than the folders held open, what lies below where this
  // walk ended is let go, so that the folders held are the deepest of this
  // walk's path and not of an earlier, deeper one.
  if (levels_.size() > kHeldOpen && depth_ < levels_.size()) Leave(depth_);
  std::string leaf;
  if (pending_) {
    leaf = std::move(*pending_);
    pending_.reset();
  } else if (!lost_.empty()) {
    leaf = std::move(lost_.back());
    lost_.pop_back();
  } else if (depth_ > 0) {
    leaf = levels_[--depth_].name;
  } else {
    return platform::FolderItem(*rootReal_);
  }
  // Joined as text and parsed once: this is done for every member.
  std::string at = rootReal_->native();
  for (std::size_t i = 0; i < depth_; ++i) (at += '/') += levels_[i].name;
  for (const std::string& name : lost_) (at += '/') += name;
  (at += '/') += leaf;
  // The member's item is anchored in the folder the walk opened. Where none
  // could be opened, nothing is looked up by path either: the member then
  // fails, saying why.
  FolderRef folder;
  if (Reachable()) folder = At(depth_, error);
  if (!folder) folder = OpenFolder::Unreachable(Reachable() ? error : error_);
  return platform::FolderItem(fs::path(std::move(at)), std::move(folder));
}

bool DestinationFolders::IsRoot(const platform::FolderItem& item) const {
  return !item.Folder() && !rootReal_->empty() && item.Path() == *rootReal_;
}

void DestinationFolders::KeepDate(const OpenFolder& folder) {
  struct stat st {};
  if (::fstat(folder.fd(), &st) == 0) dates_[{st.st_dev, st.st_ino}] = st.st_mtim;
}

void DestinationFolders::SetKeptDate(const OpenFolder& folder) const {
  const auto kept = dates_.find({folder.dev(), folder.ino()});
  if (kept != dates_.end()) SetModified(folder, kept->second);
}

void DestinationFolders::Leave(std::size_t index) {
  for (std::size_t i = index; !dates_.empty() && i < levels_.size(); ++i) {
    if (dates_.count({levels_[i].dev, levels_[i].ino}) == 0) continue;
    int error = 0;
    // A folder no longer held is opened again, and only if it is still the
    // one entered.
    if (const FolderRef folder = At(i + 1, error)) SetKeptDate(*folder);
  }
  levels_.resize(index);
  if (reopened_ && reopenedIndex_ >= index) reopened_.reset();
}

void DestinationFolders::Release() {
  Leave(0);
  if (root_) SetKeptDate(*root_);
  dates_.clear();
  reopened_.reset();
  root_.reset();
  given_.clear();
  givenIn_.reset();
  rootReal_ = std::make_shared<const fs::path>();
  depth_ = 0;
  pending_.reset();
  lost_.clear();
  rootLost_ = false;
  error_ = 0;
}

}  // namespace zip

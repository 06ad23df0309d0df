#include "zip/destination_folders.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace zip {

namespace fs = std::filesystem;
using platform::OpenFolder;

namespace {

// Sets the modification time `date` through the folder's descriptor.
void SetModified(const OpenFolder& folder, const timespec& date) {
  const timespec times[2] = {{0, UTIME_OMIT}, date};
  platform::SetTimesThrough(folder.fd(), times);
}

// A path below the root, as names alone, with "." and ".." gone; none when
// it climbs above the root.
std::optional<std::vector<std::string>> Resolved(std::vector<std::string> names) {
  std::vector<std::string> resolved;
  for (std::string& name : names) {
    if (name.empty() || name == ".") continue;
    if (name != "..") {
      resolved.push_back(std::move(name));
    } else if (resolved.empty()) {
      return std::nullopt;
    } else {
      resolved.pop_back();
    }
  }
  return resolved;
}

}  // namespace

fs::path DestinationFolders::GivenName() const {
  return given_.has_filename() ? given_.filename() : given_.parent_path().filename();
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
// named that path), and one put there since leads nowhere, even one put at
// the name of a missing root just before it is made. A root that is missing
// is made there, and must be the folder just made, not one put in its place.
DestinationFolders::FolderRef DestinationFolders::RootFolder(int& error) {
  if (root_) return root_;
  FolderRef parent = givenIn_;
  const fs::path leaf = givenIn_                    ? GivenName()
                        : rootReal_->has_filename() ? rootReal_->filename()
                                                    : ".";
  if (!parent) parent = OpenFolder::Open(AT_FDCWD, rootReal_->parent_path().c_str(), 0, error);
  if (!parent) return nullptr;
  root_ = platform::OpenOrMakeFolder(parent->fd(), leaf.native(), true);
  if (!root_) {
    error = errno;
    return nullptr;
  }
  walk_.emplace(root_->fd());
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

bool DestinationFolders::Enter(const std::string& name, int& error) {
  const FolderRef parent = At(depth_, error);
  if (!parent) return false;
  platform::FolderWalk& walk = *walk_;
  // Kept from the members before, it is only checked: it must still be the
  // folder at its name.
  if (depth_ < walk.Depth() && walk.NameAt(depth_ + 1) == name && walk.StillThere(depth_ + 1)) {
    ++depth_;
    return true;
  }
  // Moved, replaced or never entered: what was kept below it goes.
  LeaveFrom(depth_);
  if (!walk.EnterOrMake(name)) {
    error = errno;
    return false;
  }
  ++depth_;
  return true;
}

DestinationFolders::FolderRef DestinationFolders::At(std::size_t depth, int& error) {
  if (depth == 0) return RootFolder(error);
  FolderRef folder = walk_->Folder(depth);
  // Not held, and moved or replaced since it was checked: it is not walked
  // through.
  if (!folder) error = errno == ESTALE ? ENOENT : errno;
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
    for (std::size_t i = 1; i <= depth_; ++i) names.push_back(walk_->NameAt(i));
    for (const fs::path& part : to) names.push_back(part.string());
  }
  std::optional<std::vector<std::string>> resolved = Resolved(std::move(names));
  if (!resolved) return false;
  depth_ = 0;
  pending_.reset();
  for (std::string& name : *resolved) {
    if (pending_ && !EnterPending(false)) return false;
    pending_ = std::move(name);
  }
  return true;
}

bool DestinationFolders::FollowLeafLink() {
  int error = 0;
  platform::Looked st{};
  const FolderRef folder = At(depth_, error);
  if (!folder || !platform::LookAt(folder->fd(), *pending_, st) || !S_ISLNK(st.st_mode)) {
    return true;
  }
  const std::string link = std::move(*pending_);
  pending_.reset();
  return FollowLink(link);
}

std::optional<platform::FolderItem> DestinationFolders::End() {
  if (follow_ && pending_ && Reachable() && !FollowLeafLink()) return std::nullopt;
  // In a tree deeper than the folders held open, what lies below where this
  // walk ended is let go, so that the folders held are the deepest of this
  // walk's path and not of an earlier, deeper one.
  if (walk_ && walk_->Depth() > platform::FolderWalk::kHeldOpen) LeaveFrom(depth_);
  std::string leaf;
  if (pending_) {
    leaf = std::move(*pending_);
    pending_.reset();
  } else if (!lost_.empty()) {
    leaf = std::move(lost_.back());
    lost_.pop_back();
  } else if (depth_ > 0) {
    leaf = walk_->NameAt(depth_--);
  } else {
    return platform::FolderItem(*rootReal_);
  }
  // Joined as text and parsed once: this is done for every member.
  std::string at = rootReal_->native();
  for (std::size_t i = 1; i <= depth_; ++i) (at += '/') += walk_->NameAt(i);
  for (const std::string& name : lost_) (at += '/') += name;
  (at += '/') += leaf;
  // The member's item is anchored in the folder the walk opened. Where none
  // could be opened, nothing is looked up by path either: the member then
  // fails, saying why.
  FolderRef folder;
  int error = 0;
  if (Reachable()) folder = At(depth_, error);
  if (!folder) folder = OpenFolder::Unreachable(Reachable() ? error : error_);
  return platform::FolderItem(fs::path(std::move(at)), std::move(folder));
}

bool DestinationFolders::IsRoot(const platform::FolderItem& item) const {
  return !item.Folder() && !rootReal_->empty() && item.Path() == *rootReal_;
}

void DestinationFolders::KeepDate(const OpenFolder& folder) {
  platform::Looked st{};
  if (platform::LookThrough(folder.fd(), st)) dates_[platform::ItemId::Of(st)] = st.st_mtim;
}

void DestinationFolders::SetKeptDate(const OpenFolder& folder) const {
  const auto kept = dates_.find(folder.Id());
  if (kept != dates_.end()) SetModified(folder, kept->second);
}

void DestinationFolders::LeaveFrom(std::size_t depth) {
  if (!walk_) return;
  // A folder no longer held is opened again, and only if it is still the
  // one entered: shallowest first, so that each is opened from the last one
  // opened above it, not from the root.
  for (std::size_t at = depth + 1; at <= walk_->Depth(); ++at) {
    if (dates_.count(walk_->IdAt(at)) == 0) continue;
    if (const FolderRef folder = walk_->Folder(at)) SetKeptDate(*folder);
  }
  while (walk_->Depth() > depth) walk_->Leave();
}

void DestinationFolders::Release() {
  LeaveFrom(0);
  if (root_) SetKeptDate(*root_);
  dates_.clear();
  walk_.reset();
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

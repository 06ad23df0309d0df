#pragma once
// The walk from the destination's root down to the members being extracted.
//
// The root is looked up once, at its first open, and held from then on:
// every member, its folders and its metadata go through that descriptor, so
// what is put at the root's path later changes nothing. Each folder below it
// is opened relative to the one above it and never through a link, so a
// member's folders cannot lead out of the root, and a folder that is swapped
// for a link after it was opened is not walked through again. The folders of
// one member are kept for the next: members of one folder follow each other
// in an archive, and their folders are then only checked, not opened again.
//
// The folders are walked by a platform::FolderWalk, which holds the deepest
// of them open and opens one above them again, with the same checks, when a
// walk needs it; this walk adds what extraction needs of its own: folders
// made where they are missing, a link followed where that is asked for, and
// the folders' dates.
//
// A folder's date is changed by every item made or removed in it, so the
// date a folder member gives its folder is set again once the walk is done
// with that folder: when the walk leaves it, and when the walk is released
// at the end of the job (successful or not), through the folder's own
// descriptor, held or opened again with the same checks.
#include <sys/stat.h>

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/folder_item.h"
#include "platform/folder_tree.h"
#include "platform/item_at.h"

namespace zip {

class DestinationFolders {
 public:
  using FolderRef = platform::OpenFolderRef;

  // Begins the walk to one member below `root`. A root given as before (the
  // same path, anchored in the same folder) is the one held, whatever stands
  // at its path now. With `followLinks`, a link on the way that stays inside
  // the root leads to where it points. False when the root has no absolute
  // form.
  bool Begin(const platform::FolderItem& root, bool followLinks);
  // The root as the walk names it: absolute, every link in it resolved when
  // it was first given (unless it is anchored), shared with each member
  // placed below it.
  const std::shared_ptr<const std::filesystem::path>& SharedRoot() const { return rootReal_; }

  // The next name of the member's path. The name before it is entered as a
  // folder, made when it is missing. False when the path leads out of the
  // root through a link.
  bool Down(const std::string& name);
  // One level up ("..") ; false above the root.
  bool Up();
  // Ends the walk with the member's item, anchored in the folder the walk
  // reached. Where a folder on the way could not be entered, the item's
  // folder is unreachable, and tells why: ENOTDIR for an item that is no
  // folder, ELOOP for a link not followed. The root itself, when the path
  // names it, comes back named by its path (see IsRoot). None when a link
  // at the member's own name leads out of the root.
  std::optional<platform::FolderItem> End();
  // `item` names the root that the walk holds.
  bool IsRoot(const platform::FolderItem& item) const;

  // The root, held: opened at its first use in its parent, held meanwhile,
  // never through a link at its own name (a link that stood at the root's
  // path when it was given is followed: the caller named that path). A root
  // that is missing is made there as one folder, and must be the folder just
  // made, else `error` is kReplaced. Null with errno's value in `error` while
  // it cannot be opened.
  FolderRef RootFolder(int& error);
  // The root the walk made, or a folder it made on the way, was replaced
  // before it could be opened.
  static constexpr int kReplaced = platform::OpenFolder::kNotMade;

  // `folder` now has the modification date it is to keep: it is set again
  // whenever the walk leaves that folder, and at Release.
  void KeepDate(const platform::OpenFolder& folder);

  // Sets the dates kept for the folders still entered and the root, then
  // closes every folder this object holds.
  void Release();

 private:
  bool Reachable() const { return lost_.empty() && !rootLost_; }
  // Enters the pending name as a folder; false when a link there leads out
  // of the root.
  bool EnterPending(bool followLinks);
  // Checks or enters `name` below the folder the walk stands in, and stands
  // in it. False with `error` set when it cannot.
  bool Enter(const std::string& name, int& error);
  // The walk moves to where the link `link` in the folder it stands in
  // points, when that lies inside the root; the target's last name becomes
  // the pending name.
  bool FollowLink(const std::string& link);
  // With links followed, a link at the member's own (pending) name: the
  // member goes where it leads. False when that lies out of the root.
  bool FollowLeafLink();
  // The folder at `depth` of the walk (0 is the root; depth n is the n-th
  // folder entered below it).
  FolderRef At(std::size_t depth, int& error);
  // The last name of the root as the caller gave it, anchored.
  std::filesystem::path GivenName() const;
  // The walk leaves the folders below `depth`: their kept dates are set
  // again, and they are let go.
  void LeaveFrom(std::size_t depth);
  // Sets the date kept for `folder`, if any.
  void SetKeptDate(const platform::OpenFolder& folder) const;

  // The root as the caller gave it, and as the walk names it.
  std::filesystem::path given_;
  FolderRef givenIn_;
  std::shared_ptr<const std::filesystem::path> rootReal_ =
      std::make_shared<const std::filesystem::path>();
  FolderRef root_;

  // The modification dates folder members gave their folders.
  std::map<platform::ItemId, timespec> dates_;

  // The folders of the last walks' path below the root, from the root's
  // first open on; those of this walk come first, `depth_` of them, each
  // checked by this walk.
  std::optional<platform::FolderWalk> walk_;
  std::size_t depth_ = 0;

  // This walk: the last name, entered as a folder only once a name follows
  // it; names below the folder it stands in where no folder could be
  // entered, and why the first of them could not be.
  bool follow_ = false;
  std::optional<std::string> pending_;
  std::vector<std::string> lost_;
  bool rootLost_ = false;
  int error_ = 0;
};

}  // namespace zip

#pragma once
// A file or folder as the program hands one around: a path with the
// questions and changes the archive code needs, on POSIX calls. The Mac
// metadata (resource fork, Finder information, creation date) lives in the
// item's AppleDouble sidecar "._name"; data, permissions and modification
// time stay in the inode.
//
// Setters return false when the change was not made; callers that do not
// care may ignore it. Names given to Child, TrueChild and SetName must be one
// component: not empty, not "." or "..", without "/" or NUL.
//
// An item may be anchored in a folder held open (the extraction makes its
// items so): its path then only names it, and every question and change,
// its sidecar's included, goes through that folder, never following a link
// at the item's own name. The items found from it (its Parent, Child and
// listing) are named by path again.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/binary_stream.h"
#include "platform/item_at.h"
#include "platform/mac_dates.h"

namespace platform {

class FolderItem {
 public:
  explicit FolderItem(std::filesystem::path path)
      : path_(std::make_shared<const std::filesystem::path>(std::move(path))) {}
  // The item of `path`'s last name in `folder`, which `path` names. An
  // unreachable folder gives an item on which everything fails.
  FolderItem(std::filesystem::path path, OpenFolderRef folder)
      : path_(std::make_shared<const std::filesystem::path>(std::move(path))),
        folder_(std::move(folder)) {}

  // Copies share the path; a moved-from item still names it.
  FolderItem(const FolderItem&) = default;
  FolderItem& operator=(const FolderItem&) = default;

  const std::filesystem::path& Path() const { return *path_; }
  // The folder the item is anchored in; null for an item named by path.
  const OpenFolderRef& Folder() const { return folder_; }
  // The item as the *at calls take it.
  ItemAt At() const;
  std::string Name() const;
  // The name as the user sees it; this system shows names as they are.
  std::string DisplayName() const { return Name(); }
  // Renames the item within its folder, its sidecar with it: both go, or
  // neither. Nothing that stands at the new name or at its sidecar's name is
  // replaced or removed; the rename then fails with EEXIST. False with
  // errno's value when the rename was not made whole: the item then keeps
  // its name, unless its sidecar could not follow and it could not take its
  // name back either; it is then at the new name, as Path() tells, and its
  // sidecar at the old.
  bool SetName(std::string_view name);
  static bool IsValidName(std::string_view name);

  // A symbolic link is followed (unless the item is anchored); a broken one
  // does not exist.
  bool Exists() const;
  bool Directory() const;
  // The item is a symbolic link, the Mac alias of this system.
  bool Alias() const;
  // No one may write to it (the owner's write permission is off).
  bool Locked() const;
  bool SetLocked(bool locked);
  // Neither hidden by its name (a leading ".") nor by its Finder flags.
  bool Visible() const;
  bool SetVisible(bool visible);

  // Bytes of the data fork; 0 for a folder or a missing item.
  std::int64_t Length() const;
  std::int64_t ResourceForkLength() const;

  // Dates on the Mac scale. An item with no creation date of its own reports
  // its modification date, so one that was given the same date for both
  // needs no sidecar.
  Date CreationDate() const;
  bool SetCreationDate(const Date& date);
  Date ModificationDate() const;
  bool SetModificationDate(const Date& date);

  // Finder information: 32 bytes, all zero when the item has none.
  std::string FinderInfo() const;
  bool SetFinderInfo(std::string_view info);
  // A file's type and creator, 4 bytes each; empty for a folder or none.
  std::string MacType() const;
  std::string MacCreator() const;
  bool SetMacType(std::string_view type);
  bool SetMacCreator(std::string_view creator);

  // The folder holding the item; none at the top of the file system.
  std::optional<FolderItem> Parent() const;
  // The item of that name in this folder; Child resolves it when it is a
  // link, TrueChild never does. A name that is not one component raises
  // RuntimeException.
  FolderItem Child(std::string_view name) const;
  FolderItem TrueChild(std::string_view name) const;

  // A folder's items, 1-based, sorted by name, without the sidecars of the
  // items beside them. The listing is taken by Count and by the first item's
  // call (index 1) and serves the later indexes; TrueItem leaves a link as
  // it is, Item resolves it (none for a broken one). None past the end.
  std::int32_t Count() const;
  std::optional<FolderItem> TrueItem(std::int32_t index) const;
  std::optional<FolderItem> Item(std::int32_t index) const;

  bool CreateAsFolder() const;
  // A new empty file in place of the item, open for reading and writing; a
  // link at the item is refused, never followed. The Mac file type is given
  // by SetMacType, so `fileType` names the kind of file only.
  std::unique_ptr<BinaryStream> CreateBinaryFile(std::string_view fileType) const;
  // Opens the file; for writing, a link at the item is refused.
  std::unique_ptr<BinaryStream> OpenAsBinaryFile(bool writable) const;
  // Removes a file, a link (not what it points at) or an empty folder, and
  // its sidecar.
  bool Delete() const;

 private:
  const std::vector<std::string>& Listing(bool refresh) const;

  // Shared between copies, and replaced (never changed) by a rename: items
  // are handed around by value at every step of an extraction.
  std::shared_ptr<const std::filesystem::path> path_;
  OpenFolderRef folder_;
  mutable std::shared_ptr<std::vector<std::string>> listing_;
};

}  // namespace platform

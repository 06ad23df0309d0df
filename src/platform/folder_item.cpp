#include "platform/folder_item.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "platform/apple_double.h"
#include "platform/framework_exceptions.h"

namespace platform {

namespace {

std::int64_t UnixToMac(std::int64_t unixSeconds) {
  return UnixToMacSeconds(unixSeconds, UTCOffsetInMinutes());
}

std::int64_t MacToUnix(std::int64_t macSeconds) {
  return MacToUnixSeconds(macSeconds, UTCOffsetInMinutes());
}

std::uint16_t FinderFlags(const std::string& info) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(info[finder_info::kFlags]) << 8 |
                                    static_cast<std::uint8_t>(info[finder_info::kFlags + 1]));
}

}  // namespace

ItemAt FolderItem::At() const {
  if (!folder_) return ItemAt(*path_);
  return ItemAt(folder_->fd(), Name());
}

std::string FolderItem::Name() const {
  // The last component of the path, whatever slashes end it; read off the
  // string itself, as this is asked for at every step of an extraction.
  const std::string& p = path_->native();
  const std::size_t end = p.find_last_not_of('/');
  if (end == std::string::npos) return {};
  const std::size_t slash = p.rfind('/', end);
  return p.substr(slash == std::string::npos ? 0 : slash + 1,
                  end - (slash == std::string::npos ? 0 : slash + 1) + 1);
}

bool FolderItem::IsValidName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

bool FolderItem::SetName(std::string_view name) {
  if (!IsValidName(name)) return false;
  if (name == Name()) return true;
  std::filesystem::path p = *path_;
  if (!p.has_filename()) p = p.parent_path();
  const std::filesystem::path target = p.parent_path() / std::string(name);
  const ItemAt from = At();
  const ItemAt to = folder_ ? ItemAt(folder_->fd(), std::string(name)) : ItemAt(target);
  const ItemAt sidecar = SidecarAt(from), newSidecar = SidecarAt(to);
  // A sidecar that cannot be looked at may well be there, and would be left
  // behind under the old name. A name too long to have one beside it has
  // none.
  int unreadable = 0;
  const bool withSidecar = IsAppleDoubleFile(sidecar.name, sidecar.folder, unreadable);
  if (unreadable != 0 && unreadable != ENAMETOOLONG) {
    errno = unreadable;
    return false;
  }
  // Whatever stands at the new sidecar's name is someone's: the item would
  // take an AppleDouble file there for its own metadata, and its own could
  // not go there. Nothing there is ever removed; the item keeps its name.
  struct stat st {};
  if (newSidecar.Lstat(st)) {
    errno = EEXIST;
    return false;
  }
  if (errno != ENOENT && (errno != ENAMETOOLONG || withSidecar)) return false;
  if (!RenameNoReplace(from, to)) return false;
  bool whole = true;
  if (withSidecar && !RenameNoReplace(sidecar, newSidecar)) {
    // The item and its metadata keep together: it takes its old name back.
    // Should even that fail, it is known by the new name, and the rename
    // still reports the sidecar's failure.
    const int reason = errno;
    whole = false;
    const bool back = RenameNoReplace(to, from);
    errno = reason;
    if (back) return false;
  }
  path_ = std::make_shared<const std::filesystem::path>(target);
  listing_.reset();
  return whole;
}

bool FolderItem::Exists() const {
  struct stat st {};
  // Only an item that is not there is missing: one that cannot be looked at
  // may well be there, and is not to be made anew over.
  return At().Stat(st) || (errno != ENOENT && errno != ENOTDIR);
}

bool FolderItem::Directory() const {
  struct stat st {};
  return At().Stat(st) && S_ISDIR(st.st_mode);
}

bool FolderItem::Alias() const {
  struct stat st {};
  return At().Lstat(st) && S_ISLNK(st.st_mode);
}

bool FolderItem::Locked() const {
  struct stat st {};
  return At().Stat(st) && (st.st_mode & S_IWUSR) == 0;
}

bool FolderItem::SetLocked(bool locked) {
  const ItemAt at = At();
  struct stat st {};
  if (!at.Stat(st)) return false;
  const mode_t mode = locked ? (st.st_mode & ~mode_t{0222}) : (st.st_mode | S_IWUSR);
  return at.ChangeMode(mode & 07777);
}

bool FolderItem::Visible() const {
  const std::string name = Name();
  if (!name.empty() && name[0] == '.') return false;
  return (FinderFlags(FinderInfo()) & finder_info::kIsInvisible) == 0;
}

bool FolderItem::SetVisible(bool visible) {
  std::string info = FinderInfo();
  const std::uint16_t old = FinderFlags(info);
  const std::uint16_t flags =
      visible ? (old & ~finder_info::kIsInvisible) : (old | finder_info::kIsInvisible);
  // Most items are visible already: their sidecar is not written.
  if (flags == old) return Exists();
  info[finder_info::kFlags] = static_cast<char>(flags >> 8);
  info[finder_info::kFlags + 1] = static_cast<char>(flags & 0xFF);
  return SetFinderInfo(info);
}

std::int64_t FolderItem::Length() const {
  struct stat st {};
  if (!At().Stat(st) || !S_ISREG(st.st_mode)) return 0;
  return static_cast<std::int64_t>(st.st_size);
}

std::int64_t FolderItem::ResourceForkLength() const {
  SidecarContents c;
  if (!ReadSidecar(At(), c, nullptr)) return 0;
  return static_cast<std::int64_t>(c.forkLength);
}

Date FolderItem::CreationDate() const {
  if (auto own = ReadCreationDate(At())) return Date::FromTotalSeconds(*own);
  return ModificationDate();
}

bool FolderItem::SetCreationDate(const Date& date) {
  if (!Exists()) return false;
  const std::int64_t seconds = date.TotalSeconds();
  const bool same = seconds == ModificationDate().TotalSeconds();
  return WriteCreationDate(At(), same ? std::nullopt : std::optional(seconds), nullptr);
}

Date FolderItem::ModificationDate() const {
  struct stat st {};
  if (!At().Stat(st)) return Date{};
  return Date::FromTotalSeconds(UnixToMac(st.st_mtim.tv_sec));
}

bool FolderItem::SetModificationDate(const Date& date) {
  const std::int64_t seconds = date.TotalSeconds();
  const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(MacToUnix(seconds)), 0}};
  const ItemAt at = At();
  if (::utimensat(at.folder, at.name.c_str(), times, at.Follow()) != 0) return false;
  // A creation date of its own that now equals the modification date is
  // the default again.
  if (auto own = ReadCreationDate(at); own && *own == seconds) {
    WriteCreationDate(at, std::nullopt, nullptr);
  }
  return true;
}

std::string FolderItem::FinderInfo() const {
  return ReadFinderInfo(At());
}

bool FolderItem::SetFinderInfo(std::string_view info) {
  return Exists() && WriteFinderInfo(At(), info, nullptr);
}

std::string FolderItem::MacType() const {
  std::string type, creator;
  ReadMacTypeCreator(At(), type, creator);
  return type;
}

std::string FolderItem::MacCreator() const {
  std::string type, creator;
  ReadMacTypeCreator(At(), type, creator);
  return creator;
}

bool FolderItem::SetMacType(std::string_view type) {
  if (Directory()) return false;
  std::string info = FinderInfo();
  info.replace(finder_info::kType, 4, std::string(type.substr(0, 4)).append(4, '\0'), 0, 4);
  return SetFinderInfo(info);
}

bool FolderItem::SetMacCreator(std::string_view creator) {
  if (Directory()) return false;
  std::string info = FinderInfo();
  info.replace(finder_info::kCreator, 4, std::string(creator.substr(0, 4)).append(4, '\0'), 0, 4);
  return SetFinderInfo(info);
}

std::optional<FolderItem> FolderItem::Parent() const {
  std::filesystem::path p = *path_;
  if (!p.has_filename()) p = p.parent_path();
  if (!p.has_filename() || !p.has_parent_path()) return std::nullopt;
  return FolderItem(p.parent_path());
}

FolderItem FolderItem::TrueChild(std::string_view name) const {
  if (!IsValidName(name)) throw RuntimeException("Not a file name");
  return FolderItem(*path_ / std::string(name));
}

FolderItem FolderItem::Child(std::string_view name) const {
  FolderItem item = TrueChild(name);
  if (!item.Alias()) return item;
  std::error_code ec;
  std::filesystem::path target = std::filesystem::weakly_canonical(*item.path_, ec);
  return ec ? item : FolderItem(target);
}

const std::vector<std::string>& FolderItem::Listing(bool refresh) const {
  if (listing_ && !refresh) return *listing_;
  auto names = std::make_shared<std::vector<std::string>>();
  if (DIR* dir = ::opendir(path_->c_str())) {
    while (const dirent* e = ::readdir(dir)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names->push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names->begin(), names->end());
  // The sidecar of an item beside it is that item's metadata, not an item.
  std::erase_if(*names, [&](const std::string& name) {
    return name.starts_with("._") &&
           std::binary_search(names->begin(), names->end(), name.substr(2)) &&
           IsAppleDoubleFile(*path_ / name);
  });
  listing_ = std::move(names);
  return *listing_;
}

std::int32_t FolderItem::Count() const {
  return static_cast<std::int32_t>(Listing(true).size());
}

std::optional<FolderItem> FolderItem::TrueItem(std::int32_t index) const {
  const std::vector<std::string>& names = Listing(index == 1);
  if (index < 1 || static_cast<std::size_t>(index) > names.size()) return std::nullopt;
  return FolderItem(*path_ / names[static_cast<std::size_t>(index) - 1]);
}

std::optional<FolderItem> FolderItem::Item(std::int32_t index) const {
  std::optional<FolderItem> item = TrueItem(index);
  if (!item || !item->Alias()) return item;
  std::error_code ec;
  std::filesystem::path target = std::filesystem::canonical(*item->path_, ec);
  if (ec) return std::nullopt;
  return FolderItem(target);
}

bool FolderItem::CreateAsFolder() const {
  const ItemAt at = At();
  return ::mkdirat(at.folder, at.name.c_str(), 0777) == 0;
}

std::unique_ptr<BinaryStream> FolderItem::CreateBinaryFile(std::string_view) const {
  return BinaryStream::Create(At(), false);
}

std::unique_ptr<BinaryStream> FolderItem::OpenAsBinaryFile(bool writable) const {
  return BinaryStream::Open(At(), writable, !writable);
}

bool FolderItem::Delete() const {
  const ItemAt at = At();
  struct stat st {};
  if (!at.Lstat(st)) return false;
  if (::unlinkat(at.folder, at.name.c_str(), S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0) != 0) {
    return false;
  }
  const ItemAt sidecar = SidecarAt(at);
  if (IsAppleDoubleFile(sidecar.name, sidecar.folder)) {
    ::unlinkat(sidecar.folder, sidecar.name.c_str(), 0);
  }
  return true;
}

}  // namespace platform

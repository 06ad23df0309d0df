// Adding files and folders of the file system: one item as one entry, with
// its forks, Mac information, date and (on request) Unix permissions; and
// the walk of a folder tree, files before subfolders, in listing order. Both
// can also just count the bytes an item or a tree would take.
#include <sys/stat.h>

#include "zip/file_streams.h"
#include "zip/rsrc_fork_streams.h"
#include "zip/write_messages.h"
#include "zip/zip_archive.h"
#include "zip/zip_records.h"

namespace zip {

namespace {

using namespace messages;

constexpr char kNoFile[] = "no file reference given";
constexpr char kNoFolder[] = "no folder reference given";
constexpr std::int32_t kUnixHost = 3;

// What one file takes in the archive, and in which form.
struct ItemSizes {
  std::int64_t data = 0;
  std::int64_t rsrc = 0;
  bool macBinary = false;
  std::int64_t Content() const {
    return macBinary ? records::macbinary::StreamLength(data, rsrc) : data;
  }
  // Lengths and sizes are signed 32-bit numbers in the records.
  bool TooLarge() const {
    return data > records::kMaxEntrySize || rsrc > records::kMaxEntrySize ||
           Content() > records::kMaxEntrySize;
  }
};

ItemSizes SizesOf(const platform::FolderItem& item, std::int32_t macBinaryMode) {
  ItemSizes s;
  if (!item.Directory()) {
    s.data = item.Length();
    // Any mode above 0 reads the resource fork; only 1 and 2 store it.
    if (macBinaryMode > 0) s.rsrc = std::max<std::int64_t>(item.ResourceForkLength(), 0);
  }
  s.macBinary = macBinaryMode == 2 || (macBinaryMode == 1 && s.rsrc > 0);
  return s;
}

// Marks an entry as made on Unix, with the item's permissions in the high
// half of its attributes; none when they cannot be read.
void GiveUnixPermissions(const ZipArchive& archive, ZipEntry& entry,
                         const std::filesystem::path& item) {
  std::int32_t perm = 0;
  if (!archive.GetUnixPermissions(item, perm)) return;
  entry.SetOSMadeBy(kUnixHost);
  const auto low = static_cast<std::uint32_t>(entry.ExternalFileAttributes()) & 0xFFFF;
  entry.SetExternalFileAttributes(ZipArchiveData::shiftLeft16(perm) |
                                  static_cast<std::int32_t>(low));
}

// The file system's identity of a file (device and inode), to tell the
// archive itself apart from the items of a walk that reaches it.
std::optional<std::pair<std::uint64_t, std::uint64_t>> FileId(const std::filesystem::path& p) {
  platform::Looked st{};
  if (p.empty() || !platform::LookAt(AT_FDCWD, p.c_str(), st, 0)) return std::nullopt;
  return std::make_pair(static_cast<std::uint64_t>(st.st_dev),
                        static_cast<std::uint64_t>(st.st_ino));
}

// The prefix as the walk takes it: one "/" after the path, and every "//"
// made "/" in one pass from the left.
std::string FolderPrefix(std::string_view path) {
  const std::string joined = std::string(path) + "/";
  std::string out;
  for (std::size_t i = 0; i < joined.size(); ++i) {
    out += joined[i];
    if (joined[i] == '/' && i + 1 < joined.size() && joined[i + 1] == '/') ++i;
  }
  return out;
}

}  // namespace

std::int32_t ZipArchive::z_addItem(const platform::FolderItem& file, std::string_view path,
                                   std::int32_t macBinaryMode, bool withUnixPerm, bool calcOnly) {
  if (!calcOnly && !z_mayChange()) return 0;
  if (file.Path().empty()) {
    errmsg = kNoFile;
    return 0;
  }
  const ItemSizes sizes = SizesOf(file, macBinaryMode);
  // A larger item is refused before anything is read or written, never cut.
  if (sizes.TooLarge()) {
    errmsg = kItemTooLarge;
    return calcOnly ? -1 : kInvalidArgument;
  }
  if (calcOnly) return static_cast<std::int32_t>(sizes.Content());
  // An item that is not there (or a broken link) would otherwise come out
  // as an empty entry, as if it had been added.
  if (!file.Exists()) {
    errmsg = kDataNotOpened;
    return kSourceNotOpened;
  }

  const auto data32 = static_cast<std::int32_t>(sizes.data);
  const auto rsrc32 = static_cast<std::int32_t>(sizes.rsrc);
  platform::MemoryBlockRef header =
      sizes.macBinary ? MakeMacBinaryHeader(file, data32, rsrc32, file.Name()) : nullptr;
  ZipExtraFieldRef extra = sizes.macBinary ? MakeZipExtraField(file) : MakeZipExtraField(file, "");
  const bool folder = file.Directory();
  FileReader data(file);
  RsrcForkReader rsrc(file);
  const std::int32_t index =
      z_zip(folder ? nullptr : &data, sizes.data, sizes.rsrc > 0 ? &rsrc : nullptr, sizes.rsrc,
            header.get(), path, file.ModificationDate(), std::move(extra));
  if (withUnixPerm && index > 0) {
    GiveUnixPermissions(*this, *d->entries_1[static_cast<std::size_t>(index)], file.Path());
  }
  return index;
}

std::int32_t ZipArchive::z_addFolder(const platform::FolderItem& folder, std::string_view path,
                                     bool followAliases, std::int32_t macBinaryMode,
                                     bool withUnixPerm, bool calcOnly) {
  if (folder.Path().empty()) {
    errmsg = kNoFolder;
    return -1;
  }
  const WalkOptions walk{followAliases, macBinaryMode, withUnixPerm, calcOnly,
                         IsOpen() ? FileId(d->theFile) : std::nullopt};
  const std::int64_t total = z_walkFolder(folder, std::string(path), walk);
  if (total < 0) return -1;
  if (!calcOnly) return 0;
  // A total of 2^31 or more does not fit the result.
  return total > records::kMaxEntrySize ? -1 : static_cast<std::int32_t>(total);
}

// One folder of the walk: its files in listing order, then each subfolder
// whole. The bytes counted, or -1 when the walk stops.
std::int64_t ZipArchive::z_walkFolder(const platform::FolderItem& folder, const std::string& prefix,
                                      const WalkOptions& walk) {
  std::vector<platform::FolderItem> files, folders;
  for (std::int32_t i = 1;; ++i) {
    std::optional<platform::FolderItem> item = folder.TrueItem(i);
    if (!item) break;
    if (item->Alias()) {
      // An alias is taken for its target file; one to a folder never is.
      if (!walk.followAliases) continue;
      item = folder.Item(i);
      if (!item || item->Directory()) continue;
    }
    (item->Directory() ? folders : files).push_back(std::move(*item));
  }
  std::int64_t total = 0;
  for (const platform::FolderItem& file : files) {
    if (walk.self && FileId(file.Path()) == walk.self) continue;  // never the archive itself
    if (const std::shared_ptr<ZipProgressNotifier> monitor = d->monitor) {
      bool skip = false;
      monitor->ZipFileStarting(file, skip);
      if (skip) return -1;
    }
    const std::string entryPath =
        walk.calcOnly ? std::string() : prefix + d->cleanName(file.Name());
    const std::int32_t r =
        z_addItem(file, entryPath, walk.macBinaryMode, walk.withUnixPerm, walk.calcOnly);
    if (r < 0 || (r == 0 && !walk.calcOnly)) {
      if (z_abort(file, r, errmsg, true)) return -1;
      continue;
    }
    if (walk.calcOnly) total += r;
  }
  for (const platform::FolderItem& sub : folders) {
    const std::string subPrefix =
        walk.calcOnly ? std::string() : prefix + d->cleanName(sub.Name()) + "/";
    const std::int64_t r = z_walkFolder(sub, subPrefix, walk);
    if (r < 0) return r;
    total += r;
  }
  return total;
}

bool ZipArchive::AddFolderContents(const platform::FolderItem& folder, std::string_view path,
                                   std::int32_t macBinaryMode, bool followAliases) {
  if (!z_mayChange()) return false;
  return z_addFolder(folder, FolderPrefix(path), followAliases, macBinaryMode, d->addUnixPerm,
                     false) == 0;
}

std::int32_t ZipArchive::AddItemWithRawPath(const platform::FolderItem& item,
                                            std::string_view rawPath, std::int32_t macBinaryMode) {
  return z_addItem(item, rawPath, macBinaryMode, d->addUnixPerm, false);
}

std::int32_t ZipArchive::AddItemToRoot(const platform::FolderItem& item,
                                       std::int32_t macBinaryMode) {
  std::string name;
  if (!item.Path().empty()) name = d->cleanName(item.Name()) + (item.Directory() ? "/" : "");
  return z_addItem(item, name, macBinaryMode, d->addUnixPerm, false);
}

std::int32_t ZipArchive::CalcItemSize(const platform::FolderItem& item,
                                      std::int32_t macBinaryMode) {
  return z_addItem(item, "", macBinaryMode, false, true);
}

std::int32_t ZipArchive::CalcFolderSize(const platform::FolderItem& folder, bool followAliases,
                                        std::int32_t macBinaryMode) {
  return z_addFolder(folder, "", followAliases, macBinaryMode, false, true);
}

}  // namespace zip

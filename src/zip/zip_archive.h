#pragma once
// A zip archive file bound by Open: its central directory read into a 1-based
// list of entries, or a new empty archive created for writing. Operations
// that can fail return False and leave the reason in ErrorMessage; misuse
// (an entry list asked of a closed archive, an index out of range) raises the
// framework's exceptions.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/folder_item.h"
#include "platform/mac_dates.h"
#include "platform/memory_block.h"
#include "platform/text_encoding.h"
#include "zip/zip_archive_data.h"
#include "zip/zip_entry.h"
#include "zip/zip_extra_field.h"
#include "zip/zip_progress_notifier.h"

namespace zip {

class SeqDataInputStream;

class ZipArchive {
 public:
  ZipArchive();
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  // An empty path stands for no file at all.
  bool Open(const std::filesystem::path& file, bool writable);
  bool Open(const std::filesystem::path& file, bool writable,
            const platform::TextEncoding* encoding);
  // Writes the directory when the archive was changed, then closes the
  // stream. Every change was weighed when it was made, so the directory is
  // refused only when writing it fails: an archive opened writable then
  // stays open with all its entries, to be written by a later Flush or
  // Close; a read-only one is closed anyway. A directory that needs zip64
  // end records (its last record ends like their locator) while no entry
  // starts the file goes behind the entries compacted first, as Compact
  // does, since 7-Zip takes such a gap beside those records for damage.
  bool Close();

  ZipEntryRef Entry(std::int32_t index) const;
  std::int32_t EntryCount() const;
  const std::string& ErrorMessage() const { return errmsg; }
  const std::string& Comment() const { return comment_; }

  bool IsOpen() const { return d->zipStream != nullptr; }
  bool IsWritable() const { return IsOpen() && writeMode; }
  bool UsesAppleDittoFormat() const { return d->dittoFormat; }

  // -- changing an archive opened writable. Each refuses with False (or 0,
  // or no entry) and "Archive was opened read-only" on any other.
  // Writes the directory now, as Close does, and keeps the archive open.
  bool Flush();
  // Moves the entries down over the gaps that removed and replaced entries
  // left and writes the directory behind them, as Flush does. Refused before
  // anything moves when a local header does not agree with its record.
  bool Compact();
  // A one-level undo of additions: Rollback drops every entry added since
  // the last Mark. Removing, replacing, compacting and closing drop the mark.
  void Mark();
  bool Rollback();
  bool RemoveEntry(std::int32_t index);
  // Puts `entry` in the place of entry `index` and returns the one that
  // stood there.
  ZipEntryRef ReplaceEntry(std::int32_t index, ZipEntryRef entry);
  // The archive comment, stored as the bytes given.
  bool SetComment(std::string_view comment);
  // A second entry named `rawPath` for the data of `entry`; its index, or 0
  // or -1 with the reason in ErrorMessage.
  std::int32_t AddFakeDuplicate(const ZipEntryRef& entry, std::string_view rawPath,
                                const std::optional<platform::Date>& date, ZipExtraFieldRef extra);
  static platform::MemoryBlockRef z_cloneMB(const platform::MemoryBlock& block);

  // -- adding. Each returns the new entry's index (1 or more); 0 when the
  // monitor stopped it or it was refused before anything was written; or
  // one of the negative results below. ErrorMessage says why.
  static constexpr std::int32_t kInvalidArgument = -50;
  static constexpr std::int32_t kSourceNotOpened = -38;
  static constexpr std::int32_t kBytesDoNotAddUp = -2;
  // An entry made of the bytes of `data` and, behind a 128-byte MacBinary
  // header only, of `rsrc`. A resource stream needs the header.
  std::int32_t AddItemByStreams(SeqDataInputStream* data, std::int64_t dataLength,
                                SeqDataInputStream* rsrc, std::int64_t rsrcLength,
                                const platform::MemoryBlock* macBinaryHeader,
                                std::string_view rawPath, ZipExtraFieldRef extra,
                                const std::optional<platform::Date>& date);

  // Items of the file system. An empty path stands for no item. The
  // MacBinary mode says how a resource fork is stored (MacBinaryNever,
  // MacBinarySmart, MacBinaryAlways). Each file or folder is one entry; a
  // folder's raw path must end in "/".
  std::int32_t AddItemWithRawPath(const platform::FolderItem& item, std::string_view rawPath,
                                  std::int32_t macBinaryMode);
  // Under the item's own name, at the top of the archive.
  std::int32_t AddItemToRoot(const platform::FolderItem& item, std::int32_t macBinaryMode);
  // Every file below `folder`, under `path` and the folders' names on the
  // way down: a folder's files in name order, then each subfolder whole.
  // Folders get no entries of their own, and the archive itself is never
  // added. False, with the reason in ErrorMessage, when the walk stopped.
  bool AddFolderContents(const platform::FolderItem& folder, std::string_view path,
                         std::int32_t macBinaryMode, bool followAliases);
  // The content bytes an item or a folder's files would take; -1 when they
  // reach 2 GiB. Nothing is opened, and the archive need not be open.
  std::int32_t CalcItemSize(const platform::FolderItem& item, std::int32_t macBinaryMode);
  std::int32_t CalcFolderSize(const platform::FolderItem& folder, bool followAliases,
                              std::int32_t macBinaryMode);

  // The monitor of long operations; null for none. It stays installed
  // across Close and Open.
  void SetProgressMonitor(std::shared_ptr<ZipProgressNotifier> monitor) {
    d->monitor = std::move(monitor);
  }
  const std::shared_ptr<ZipProgressNotifier>& ProgressMonitor() const { return d->monitor; }

  // -- options
  static constexpr std::int32_t MacBinaryNever() { return 0; }
  static constexpr std::int32_t MacBinarySmart() { return 1; }
  static constexpr std::int32_t MacBinaryAlways() { return 2; }
  static constexpr double Version() { return 1.3; }
  void SetDefaultOSMadeBy(std::int32_t host) { d->defaultOSMadeBy = host; }
  std::int32_t DefaultOSMadeBy() const { return d->defaultOSMadeBy; }
  void PreserveUnixPermissions(bool on) { d->addUnixPerm = on; }
  bool PreservingUnixPermissions() const { return d->addUnixPerm; }
  // The file's 16-bit Unix mode word (type and permission bits), a link's
  // being that of what it points at; False, perm untouched, when the file
  // cannot be looked at.
  bool GetUnixPermissions(const std::filesystem::path& file, std::int32_t& perm) const;

  // -- encodings of stored names and comments
  static const platform::TextEncoding* EncodedAsWinLatin1();
  static const platform::TextEncoding* EncodedAsUnicode();
  static const platform::TextEncoding* EncodedAsMacDefault();
  static const platform::TextEncoding* EncodedAsDOSLatinUS();

  // -- names and raw paths
  std::string CleanName(std::string_view name) const { return d->cleanName(name); }
  bool IsValidName(std::string_view name) const { return name == d->cleanName(name); }
  std::string RawPath(const std::vector<std::string>& components) const;
  // The raw path of `item` below `folder`; empty when it does not lie there.
  std::string RawPath(const std::filesystem::path& folder, const std::filesystem::path& item) const;
  static bool z_sameFolderItem(const std::filesystem::path& a, const std::filesystem::path& b);
  std::string z_pathToEncName(std::string_view rawPath,
                              const platform::TextEncoding* encoding = nullptr) const;
  std::int32_t EntryIdxByRawPath(std::string_view rawPath, std::int32_t start,
                                 const platform::TextEncoding* encoding = nullptr) const;
  std::vector<platform::Text> AllEntriesAsRawPaths() const;

  // -- extra fields made for items; each new and unlocked
  ZipExtraFieldRef MakeZipExtraField(std::string_view block) const;
  ZipExtraFieldRef MakeZipExtraField(std::string_view type, std::string_view creator,
                                     std::string_view name) const;
  // The Mac record of an item: its type and creator, and `name` (the item's
  // own name in the one-argument form). None for a folder with no name.
  ZipExtraFieldRef MakeZipExtraField(const platform::FolderItem& item) const;
  ZipExtraFieldRef MakeZipExtraField(const platform::FolderItem& item, std::string_view name) const;

  // -- MacBinary headers: 128 bytes, big-endian, in the MacBinary III layout.
  // An empty name raises RuntimeException. The name is stored in the
  // encoding of its script (Mac Roman for script 0), cut to 63 bytes.
  platform::MemoryBlockRef MakeMacBinaryHeader(const platform::FolderItem& item) const;
  platform::MemoryBlockRef MakeMacBinaryHeader(const platform::FolderItem& item,
                                               std::int32_t dataLength, std::int32_t rsrcLength,
                                               std::string_view name) const;
  platform::MemoryBlockRef MakeMacBinaryHeader(std::int32_t dataLength, std::int32_t rsrcLength,
                                               std::string_view name, std::string_view type,
                                               std::string_view creator,
                                               std::optional<platform::Date> created,
                                               std::optional<platform::Date> modified) const;
  // `item` may be null: then no Finder flags, script, lock or visibility.
  platform::MemoryBlockRef z_makeMBHdr(std::int32_t dataLength, std::int32_t rsrcLength,
                                       std::string_view name, std::string_view type,
                                       std::string_view creator,
                                       std::optional<platform::Date> created,
                                       std::optional<platform::Date> modified,
                                       const platform::FolderItem* item) const;
  // Seconds 0 to 2^32 - 1 as the signed 32-bit value of the same bits;
  // values outside that range are held to its ends.
  std::int32_t z_dblToLong(double value) const;

  // The state shared with the entries.
  const std::shared_ptr<ZipArchiveData>& Data() const { return d; }
  // The one gate of every change to what the directory will hold: null when
  // the directory, as it would stand after `change`, can still be written,
  // and the directory is then marked changed; else the reason, and nothing
  // is marked. Lengths too long for their fields are refused in any
  // archive; the rest is weighed only in one opened writable, as no other
  // directory is written (Close of a read-only one says so). Whatever it
  // lets through, Close can write.
  const char* z_admit(const DirectoryChange& change);
  // For tests only: lowers the size that the archive must end within from
  // 4 GiB - 1 bytes to `bytes`, so that small files reach it. Raises
  // RuntimeException while a file is open.
  void SetSizeLimitForTesting(std::int64_t bytes);
  std::int64_t StartOfDirectory() const { return startOfDirInArchive; }
  bool Marked() const { return marked; }
  // More central records than the end record counts.
  bool CentralDirectoryCorrupted() const { return centralDirCorrupted; }
  // An entry's header or data reaches into the directory, where the next
  // entry added would overwrite it. Only an archive opened writable is
  // checked, with the lengths that the local headers give.
  bool EntriesReachIntoDirectory() const { return entriesReachIntoDir; }

 private:
  void z_setup();
  void z_readDirectory();
  bool z_readEndRecord(std::int64_t& endAt, std::uint32_t& count, std::int64_t& size);
  bool z_localHeadersReachIntoDir();
  bool OpenSteps(const std::filesystem::path& file, bool writable,
                 const platform::TextEncoding* encoding);
  void ResetForOpen();

  // -- writing
  struct EntrySources {
    SeqDataInputStream* data;
    std::int64_t dataLength;
    SeqDataInputStream* rsrc;
    std::int64_t rsrcLength;
    const platform::MemoryBlock* macBinary;
  };
  std::int32_t z_zip(SeqDataInputStream* data, std::int64_t dataLength, SeqDataInputStream* rsrc,
                     std::int64_t rsrcLength, const platform::MemoryBlock* macBinary,
                     std::string_view rawPath, const std::optional<platform::Date>& modified,
                     ZipExtraFieldRef extra);
  const char* z_entryProblem(const EntrySources& src, std::size_t headerLength,
                             const RecordFields& fields, std::int64_t& size);
  std::int32_t z_writeContent(const EntrySources& src, const ZipEntry& entry, std::int64_t size,
                              std::int64_t dataStart, std::uint32_t& crc, std::int64_t& end);
  // Why the directory could not be written after `change`, or null.
  const char* z_changeProblem(const DirectoryChange& change);
  std::int32_t z_addItem(const platform::FolderItem& file, std::string_view path,
                         std::int32_t macBinaryMode, bool withUnixPerm, bool calcOnly);
  std::int32_t z_addFolder(const platform::FolderItem& folder, std::string_view path,
                           bool followAliases, std::int32_t macBinaryMode, bool withUnixPerm,
                           bool calcOnly);
  struct WalkOptions {
    bool followAliases;
    std::int32_t macBinaryMode;
    bool withUnixPerm;
    bool calcOnly;
    // The archive's own file (device and inode), never added; none when unknown.
    std::optional<std::pair<std::uint64_t, std::uint64_t>> self;
  };
  std::int64_t z_walkFolder(const platform::FolderItem& folder, const std::string& prefix,
                            const WalkOptions& walk);
  bool z_abort(const platform::FolderItem& file, std::int32_t code, const std::string& msg,
               bool skippable);
  void z_noWriteMsg();
  // False, with the read-only message, unless the archive may be changed;
  // raises RuntimeException when it may but has been closed since.
  bool z_mayChange();
  bool z_writeDirectory();
  // The name of the one empty member an archive without entries is given.
  static constexpr std::string_view kStandInName = "/";
  bool z_writeRecords(const std::vector<ZipEntry*>& entries, std::int64_t directorySize);
  bool z_copy(std::int64_t from, std::int64_t to, std::int64_t length);

  bool entriesRead = false;
  std::string errmsg;
  std::string comment_;
  double maxIntPlus1 = 0;
  bool writeMode = false;
  // Offsets are held in 64 bits: the records' unsigned 32-bit fields reach
  // to 4 GiB - 1.
  std::int64_t startOfDirInArchive = 0;
  bool justCreated = false;
  bool marked = false;
  std::int32_t markEntries = 0;
  std::int64_t markDirStart = 0;
  std::shared_ptr<ZipArchiveData> d;
  bool centralDirCorrupted = false;
  // Like centralDirCorrupted, it keeps a writable open read-only.
  bool entriesReachIntoDir = false;
  // Offsets are unsigned 32-bit fields, so the archive ends within 4 GiB.
  std::int64_t sizeLimit_ = 0;
  // No end record fitted the file, and the nearest was taken: an open for
  // writing is refused, since a directory written on its word could cut off
  // members that another record lists.
  bool endRecordUnsure = false;
};

}  // namespace zip

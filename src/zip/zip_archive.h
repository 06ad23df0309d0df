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
#include <vector>

#include "platform/folder_item.h"
#include "platform/mac_dates.h"
#include "platform/memory_block.h"
#include "platform/text_encoding.h"
#include "zip/zip_archive_data.h"
#include "zip/zip_entry.h"
#include "zip/zip_extra_field.h"

namespace zip {

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
  // Closes the stream. False, with the reason in ErrorMessage, when the
  // archive would need its directory written: it was created by Open, or an
  // entry's comment or extra field was changed. The stream is closed anyway.
  bool Close();

  ZipEntryRef Entry(std::int32_t index) const;
  std::int32_t EntryCount() const;
  const std::string& ErrorMessage() const { return errmsg; }
  const std::string& Comment() const { return comment_; }

  bool IsOpen() const { return d->zipStream != nullptr; }
  bool IsWritable() const { return IsOpen() && writeMode; }
  bool UsesAppleDittoFormat() const { return d->dittoFormat; }

  // -- options
  static constexpr std::int32_t MacBinaryNever() { return 0; }
  static constexpr std::int32_t MacBinarySmart() { return 1; }
  static constexpr std::int32_t MacBinaryAlways() { return 2; }
  static constexpr double Version() { return 1.3; }
  void SetDefaultOSMadeBy(std::int32_t host) { d->defaultOSMadeBy = host; }
  std::int32_t DefaultOSMadeBy() const { return d->defaultOSMadeBy; }
  void PreserveUnixPermissions(bool on) { d->addUnixPerm = on; }
  bool PreservingUnixPermissions() const { return d->addUnixPerm; }
  // The file's 16-bit Unix mode word (type and permission bits); False, perm
  // untouched, when the file cannot be looked at.
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
  std::int64_t StartOfDirectory() const { return startOfDirInArchive; }
  // More central records than the end record counts.
  bool CentralDirectoryCorrupted() const { return centralDirCorrupted; }
  // An entry's header or data reaches into the directory, where the next
  // entry added would overwrite it.
  bool EntriesReachIntoDirectory() const { return entriesReachIntoDir; }

 private:
  void z_setup();
  void z_readDirectory();
  bool z_readEndRecord(std::int64_t& endAt, std::uint32_t& count, std::int64_t& size);
  bool OpenSteps(const std::filesystem::path& file, bool writable,
                 const platform::TextEncoding* encoding);
  void ResetForOpen();

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
};

}  // namespace zip

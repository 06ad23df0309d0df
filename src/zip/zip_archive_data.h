#pragma once
// The state one open archive shares with its entries and their extra fields:
// the stream, the 1-based entry list, the name encoding and the options.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/binary_stream.h"
#include "platform/folder_item.h"
#include "platform/item_at.h"
#include "platform/memory_block.h"
#include "platform/text_encoding.h"
#include "platform/zstream.h"
#include "zip/destination_folders.h"

namespace zip {

class ZipArchive;
class ZipEntry;
class ZipProgressNotifier;
using ZipEntryRef = std::shared_ptr<ZipEntry>;

// The lengths of a record's 16-bit fields.
struct RecordFields {
  std::size_t name = 0;
  std::size_t extra = 0;
  std::size_t comment = 0;
  static RecordFields Of(const ZipEntry& e);
  // The bytes the record takes in the directory.
  std::int64_t Bytes() const;
  // The message of a field too long for its length, or null.
  const char* TooLong() const;
};

// What a change does to the central directory, as the archive's gate weighs
// it: how many records it adds, by how many bytes the records grow, how
// many entries it lists more (fewer when negative), where the entries end
// after it, the archive comment's length after it, and the fields of the
// record it makes or changes. Growth may be overstated, never understated.
struct DirectoryChange {
  std::int64_t records = 0;
  std::int64_t recordBytes = 0;
  std::int64_t entries = 0;
  std::int64_t entriesEnd = -1;     // -1: where they end now
  std::int64_t commentLength = -1;  // -1: the comment as it is
  std::optional<RecordFields> fields = std::nullopt;
};

// A reference to an item on disk that names the item itself: a symbolic link
// stands for the link, never for what it points at. An item anchored in an
// open folder is reached through that folder.
struct FSRef {
  std::filesystem::path path;
  platform::OpenFolderRef folder;
  platform::ItemAt At() const;
};

class ZipArchiveData {
 public:
  ZipArchiveData();

  // Name index built when the directory has been read: stored name (less one
  // trailing "/") to its entry. The raw bytes serve as key directly; they
  // tell names apart exactly as any reversible encoding of them would. Keys
  // view the entries' own names and values point at the entries, so the
  // index must not outlive the entry list it was made from.
  using NameIndex = std::unordered_map<std::string_view, ZipEntry*>;
  static NameIndex MakeNameIndex(const std::vector<ZipEntryRef>& entries);

  // -- names and encodings
  std::string cleanName(std::string_view name) const;
  // Text to the bytes the archive stores. `textEncoding` is the text's own
  // encoding; nullptr means it has none and is taken as the system default.
  std::string encodeForZip(std::string_view text,
                           const platform::TextEncoding* textEncoding = nullptr) const;
  // Stored bytes labelled with the archive's encoding, unchanged.
  platform::Text decodeFromZip(std::string_view stored) const;
  void setArchiveEncoding(const platform::TextEncoding* encoding);
  static const platform::TextEncoding& findFileNameEncoding();
  // 1-based position of the last occurrence of `find` in `s`, or 0.
  static std::int32_t lastInStr(std::string_view s, std::string_view find);
  // Index of the first entry at or after `start` whose stored name is
  // `encName`; 0 when none.
  std::int32_t lookup(std::string_view encName, std::int32_t start) const;

  // -- directory check and header comparison
  void checkDirectory(NameIndex& index);
  bool isFakeEntry(const platform::MemoryBlock& header, std::int32_t localFlags);

  // -- Unix permissions and file references (unix_permissions.cpp). Results
  // are Mac OS result codes: 0, or negative on failure.
  std::optional<FSRef> makeFSRef(const platform::FolderItem& f) const;
  std::int32_t getUnixPermissionsFromFile(const FSRef& ref, std::int32_t& mode) const;
  // Sets the mode to (keep AND old mode) OR add.
  std::int32_t updateUnixPermissions(const FSRef& ref, std::int32_t keep, std::int32_t add) const;
  // The upper 16 bits of `v` as 0..65535, and the low 16 bits of `v` moved
  // into the upper half (negative when bit 15 is set).
  static std::int32_t shiftRight16(std::int32_t v);
  static std::int32_t shiftLeft16(std::int32_t v);

  std::int32_t EntryCount() const { return static_cast<std::int32_t>(entries_1.size()) - 1; }
  // Forgets every entry, including those set aside, and the files extracted,
  // and lets go of the folders that extraction held open.
  void ClearEntries();

  // The files that extraction from this archive has put in place, known by
  // device and inode, so that a later member never takes one of them for
  // the sidecar of a file it replaces. The file put at `file` is known by
  // its descriptor `fd`.
  void NoteExtracted(const platform::ItemAt& file, int fd);
  bool WasExtracted(const platform::ItemAt& file) const;

  // The records the directory is written from, in the order written: the
  // listed entries, then the set-aside records that still belong to them
  // (every "__MACOSX/" folder, and the companion of each listed entry).
  std::vector<ZipEntry*> DirectoryEntries() const;
  // How many records DirectoryEntries gives, counted only as closely as
  // needed to tell whether `more` can still be added.
  bool RoomForEntries(std::size_t more) const;
  // How many of the records written are `e`'s: an entry may be listed twice,
  // or not at all.
  std::int64_t TimesListed(const ZipEntry* e) const;

  // The archive's gate for a change of its directory (see
  // ZipArchive::z_admit); an entry whose archive is gone changes only itself.
  const char* AdmitChange(const DirectoryChange& change) const;
  ZipArchive* archive = nullptr;

  // The bytes the directory's records would take if written now. Worked out
  // when first asked after a change that does not say by how much, then
  // kept up by the changes that do, so a long run of additions does not add
  // the whole list up each time.
  std::int64_t DirectorySize();
  void GrowDirectory(std::int64_t recordBytes);
  void ForgetDirectorySize() { directorySize_ = -1; }

  // The in-memory directory differs from the one in the file.
  bool dirty = false;
  std::shared_ptr<ZipProgressNotifier> monitor;
  // 1-based: element 0 stays empty, so the size is the entry count + 1.
  std::vector<ZipEntryRef> entries_1;
  // The records checkDirectory took out of entries_1 ("__MACOSX/" folders and
  // paired "._" companions), in the order they were read, so that a writer
  // can put them back into the directory instead of losing them.
  std::vector<ZipEntryRef> setAside;
  std::filesystem::path theFile;
  std::unique_ptr<platform::BinaryStream> zipStream;
  std::int32_t copyChunkSize = 0;
  const platform::TextEncoding* archiveEncoding = nullptr;
  const platform::TextEncoding* filenameEncoding = nullptr;
  const platform::TextEncoding* dosLatinUS = nullptr;
  std::int32_t defaultOSMadeBy = 0;
  bool addUnixPerm = false;
  bool dittoFormat = false;
  // The folders on the way to the members being extracted.
  DestinationFolders destinations;
  // An inflater for the next deflated member, from `reader`: the one the
  // last member left, restarted, as making one costs more than a small
  // member's whole data.
  std::unique_ptr<platform::ZStream> TakeInflater(platform::IStreamReader* reader);
  void KeepInflater(std::unique_ptr<platform::ZStream> inflater) {
    spareInflater_ = std::move(inflater);
  }

 private:
  std::int64_t directorySize_ = -1;  // -1: not known
  std::set<platform::ItemId> extracted_;
  std::unique_ptr<platform::ZStream> spareInflater_;
};

}  // namespace zip

#pragma once
// One member of an archive around its 46-byte central directory record: the
// record itself (kept by reference, so changes through z_Header are the
// entry's), the stored name and comment, the extra field, and what the name
// says: raw path, path components, folder flag.
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/folder_item.h"
#include "platform/mac_dates.h"
#include "platform/memory_block.h"
#include "platform/text_encoding.h"
#include "zip/destination_folders.h"
#include "zip/zip_extra_field.h"

namespace zip {

class ZipArchiveData;
class ZipEntry;
class SeqDataOutputStream;
class StagedFile;
using ZipEntryRef = std::shared_ptr<ZipEntry>;

class ZipEntry {
 public:
  // `header` may be null (a zero-filled record is made); `extra` may be null
  // (an empty locked field is made).
  ZipEntry(std::shared_ptr<ZipArchiveData> d, platform::MemoryBlockRef header,
           std::string zipEncName, ZipExtraFieldRef extra, std::string zipEncComment);

  // -- record fields; none checks or writes anything but the in-memory record
  std::int32_t CompressedSize() const;
  std::int32_t Size() const;  // 2 GiB and more come back negative
  std::int32_t CompressionMethod() const;
  bool IsEncrypted() const;
  bool IsDirectory() const { return isFolder; }
  bool CanExtract() const;
  std::optional<platform::Date> Time() const;
  bool IsTextFile() const;
  void SetTextFileFlag(bool on);
  std::int32_t OSMadeBy() const;
  void SetOSMadeBy(std::int32_t host);
  std::int32_t ExternalFileAttributes() const;
  void SetExternalFileAttributes(std::int32_t attributes);
  const platform::MemoryBlockRef& z_Header() const { return header; }
  const std::string& ErrorMessage() const { return errmsg; }
  void EnableMacBinary1Detection(bool on) { supportMB1 = on; }
  void EnableFileLocking(bool on) { lockFiles = on; }
  static std::int32_t UTCOffsetInMinutes() { return platform::UTCOffsetInMinutes(); }

  // -- names, raw paths and comments
  const platform::Text& RawPath() const { return sysEncName; }
  void GetPath(std::vector<std::string>& components) const { components = path; }
  // The last path component; empty for an entry with an empty stored name.
  std::string Name() const { return path.empty() ? std::string() : path.back(); }
  const platform::Text& Comment() const { return sysEncComment; }
  // False, with the reason in ErrorMessage and nothing changed, for a
  // comment longer than its record can hold.
  bool SetComment(std::string_view text, const platform::TextEncoding* encoding = nullptr);
  const std::string& z_origEncodedName() const { return zipEncName; }
  const std::string& z_origEncodedComment() const { return zipEncComment; }
  bool SameRawPath(std::string_view rawPath,
                   const platform::TextEncoding* encoding = nullptr) const;
  bool z_hasDittoName() const { return hasDittoName; }

  // -- extra fields
  const ZipExtraFieldRef& ExtraFieldInCentralDir() const;
  // Locks the field and marks the archive changed. False, with the reason
  // in ErrorMessage and nothing changed, for a field longer than its record
  // can hold.
  bool SetExtraFieldInCentralDir(ZipExtraFieldRef field);
  // The extra field of the member's local header, read from the archive.
  ZipExtraFieldRef ExtraField();

  // -- MacBinary headers
  // 0 not MacBinary, 1 MacBinary I (only with EnableMacBinary1Detection),
  // 2 MacBinary II, 3 MacBinary III, 4 MacBinary III for a later reader.
  // A block shorter than 128 bytes is level 0.
  std::int32_t z_MBHdrLevel(const platform::MemoryBlock& header) const;
  // Gives an extracted item the dates, name, type, creator, Finder flags,
  // script and (with file locking on) the lock of a MacBinary header. Does
  // nothing for a missing item or header; failures are not reported. `file`
  // is the item's own descriptor, when extraction has just made or checked
  // it (a file or a folder, perhaps a path descriptor): its date, kind and
  // lock are then taken and set through it, on the item that was made
  // whatever its name has come to stand for.
  void ApplyMacBinaryInformation(platform::FolderItem& destination,
                                 const platform::MemoryBlockRef& mbHdr, int file = -1);
  // Renames the extracted item to its Mac name where the two differ only in
  // what an archive name cannot carry ("/" and "\" became "-"), and only
  // while it bears this entry's own last path component. A Mac name that is
  // no valid file name here ("/", NUL, "." or "..") is never used.
  void z_adjustMacFilename(std::string_view macName, std::int32_t script,
                           platform::FolderItem& destination);
  // The encoding of a Mac name in a script: the system's own (Mac Roman)
  // while bit 7 is clear, else the one that the low bits name; none when
  // this system does not know it.
  static const platform::TextEncoding* ScriptEncoding(std::int32_t script);
  // The MacBinary CRC-16 of the first `length` bytes of `mb`.
  static std::int32_t z_CRC(const platform::MemoryBlock& mb, std::int32_t length);
  // A 32-bit field read as unsigned.
  static double z_ulongToDouble(std::int32_t value) {
    return static_cast<double>(static_cast<std::uint32_t>(value));
  }

  // -- AppleDouble companion
  void z_setAppleDoubleEntry(ZipEntryRef companion);
  const ZipEntryRef& AppleDoubleEntry() const { return appleDoubleEntry; }
  // Whether the entry is one of the archive whose shared state `data` is.
  bool z_belongsTo(const ZipArchiveData* data) const { return d.get() == data; }
  bool IsAppleDoubleEntry() const { return thisIsTheAppleDoubleEntry; }
  // Makes the 128-byte MacBinary header of the first bytes of a member: an
  // AppleDouble companion's first 82, or a possibly MacBinary-encoded
  // member's first 128. `mbHdr` stays null when the bytes are no MacBinary
  // header; False with the reason in ErrorMessage for a bad companion.
  bool z_unzipMBHdr(bool isAppleDouble, std::string_view firstRead, platform::MemoryBlockRef& mbHdr,
                    std::int64_t& rsrcStart);

  // -- member data (entry_decode.cpp)
  // Decodes the member into `dataOut` and `rsrcOut` (either may be null: its
  // bytes are dropped). With `decodeMacBinary` a MacBinary header or an
  // AppleDouble companion is turned into `mbHdr` and the forks are split;
  // `headerOnly` makes only the first read. False with the reason in
  // ErrorMessage.
  bool z_unzip(SeqDataOutputStream* dataOut, SeqDataOutputStream* rsrcOut, bool decodeMacBinary,
               bool headerOnly, platform::MemoryBlockRef& mbHdr);
  // Extraction into streams the caller supplies.
  bool Extract(bool decodeMacBinary, SeqDataOutputStream* dataOut, SeqDataOutputStream* rsrcOut,
               platform::MemoryBlockRef& mbHdr);
  // Reads the whole member and checks it, writing nothing.
  bool Verify();
  // The member's MacBinary header, or null for a member without one.
  bool GetMacBinaryHeader(platform::MemoryBlockRef& mbHdr);

  // -- extraction to disk (entry_extract.cpp)
  // The member's place below `root`, creating the folders on the way; none
  // when the path would leave the root or cannot be made. The folders are
  // opened one below the other, never through a link (with `followAliases`
  // a link that stays inside the root is resolved first), and stay open for
  // the Extract that follows, which writes into them.
  std::optional<platform::FolderItem> MakeDestination(const platform::FolderItem& root,
                                                      bool followAliases);
  // One step of a path by name: the item for `component` below `parent`.
  std::optional<platform::FolderItem> MakeDestinationChild(const platform::FolderItem& parent,
                                                           std::string_view component,
                                                           bool followAliases);
  // Writes the member at `destination` (from MakeDestination) with its
  // dates, Mac metadata and permissions. `executable` lets a non-text file
  // without a Unix mode gain execute permission.
  bool Extract(const std::optional<platform::FolderItem>& destination, bool decodeMacBinary = true,
               bool executable = true);
  // As above; `destination` then names the item where it ended up, under
  // its Mac name when it was renamed to that.
  bool Extract(std::optional<platform::FolderItem>& destination, bool decodeMacBinary = true,
               bool executable = true);
  // The last Extract wrote the root of its MakeDestination: the item's own
  // metadata lies beside it, outside the root, and is left alone.
  bool ExtractedTheRoot() const { return extractedTheRoot; }
  bool ApplyUnixPermissions(const platform::FolderItem& destination);
  bool ApplyUnixPermissions(const platform::FolderItem& destination, std::int32_t attributes);
  bool z_icMapFilename(std::string_view fileName, std::string& type, std::string& creator);

 private:
  struct LocalHeader;
  struct UnzipRun;
  // Puts this record, with these extra field and comment lengths, through
  // the archive's gate. False, with the reason in ErrorMessage, when refused.
  bool z_admitRecord(std::size_t extraLength, std::size_t commentLength);
  void z_checkRawPath();
  bool z_readLocalHeader(LocalHeader& local);
  bool z_checkLocalHeader(const LocalHeader& local);
  void z_unzipLoop(UnzipRun& run);
  bool z_unzipPassLength(UnzipRun& run, std::int64_t& n);
  bool z_unzipRead(UnzipRun& run, std::int64_t n, std::string& bytes);
  void z_unzipCheckEnd(UnzipRun& run);
  bool z_unzipOutcome(UnzipRun& run, platform::MemoryBlockRef& mbHdr);
  platform::FolderItem z_anchored(const platform::FolderItem& dest);
  bool z_extract(std::optional<platform::FolderItem>& destination, bool decodeMacBinary,
                 bool executable);
  bool z_extractRoot(bool decodeMacBinary);
  bool z_extractFolder(const platform::FolderItem& dest, bool decodeMacBinary,
                       platform::MemoryBlockRef& mbHdr, platform::OpenFolderRef& folder);
  bool z_foundFolder(const platform::ItemAt& at, platform::OpenFolderRef& folder, bool& link,
                     struct stat& st);
  void z_removeStraySidecar(const platform::ItemAt& folder);
  mode_t z_creationMode(bool executable, const struct stat* old) const;
  bool z_extractFile(const platform::FolderItem& dest, bool decodeMacBinary, bool executable,
                     platform::MemoryBlockRef& mbHdr, std::unique_ptr<StagedFile>& staged);
  void z_applyMetadata(platform::FolderItem& dest, int fd, const StagedFile* staged,
                       const platform::MemoryBlockRef& mbHdr, bool executable);
  static bool z_setDates(int fd, const platform::Date& date);
  void z_applyPermissions(int fd, bool executable);
  std::string z_diskName(std::string_view component) const;
  bool Fail(std::string message);

  platform::Text sysEncComment;
  std::string zipEncName;
  platform::MemoryBlockRef header;
  ZipExtraFieldRef extra;
  std::string errmsg;
  std::vector<std::string> path;
  bool isFolder = false;
  std::shared_ptr<ZipArchiveData> d;
  platform::Text sysEncName;
  std::string zipEncComment;
  bool supportMB1 = false;
  bool lockFiles = false;
  ZipEntryRef appleDoubleEntry;
  // The root of the last MakeDestination: its sidecar lies outside it.
  std::shared_ptr<const std::filesystem::path> destinationRoot;
  bool hasDittoName = false;
  bool thisIsTheAppleDoubleEntry = false;
  bool extractedTheRoot = false;
};

}  // namespace zip

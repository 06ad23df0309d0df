#pragma once
// One member of an archive around its 46-byte central directory record: the
// record itself (kept by reference, so changes through z_Header are the
// entry's), the stored name and comment, the extra field, and what the name
// says: raw path, path components, folder flag.
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
#include "zip/zip_extra_field.h"

namespace zip {

class ZipArchiveData;
class ZipEntry;
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
  void SetComment(std::string_view text, const platform::TextEncoding* encoding = nullptr);
  const std::string& z_origEncodedName() const { return zipEncName; }
  const std::string& z_origEncodedComment() const { return zipEncComment; }
  bool SameRawPath(std::string_view rawPath,
                   const platform::TextEncoding* encoding = nullptr) const;
  bool z_hasDittoName() const { return hasDittoName; }

  // -- extra fields
  const ZipExtraFieldRef& ExtraFieldInCentralDir() const;
  void SetExtraFieldInCentralDir(ZipExtraFieldRef field);
  // The extra field of the member's local header, read from the archive.
  ZipExtraFieldRef ExtraField();

  // -- MacBinary headers
  // 0 not MacBinary, 1 MacBinary I (only with EnableMacBinary1Detection),
  // 2 MacBinary II, 3 MacBinary III, 4 MacBinary III for a later reader.
  // A block shorter than 128 bytes is level 0.
  std::int32_t z_MBHdrLevel(const platform::MemoryBlock& header) const;
  // Gives an extracted item the dates, name, type, creator, Finder flags,
  // script and (with file locking on) the lock of a MacBinary header. Does
  // nothing for a missing item or header; failures are not reported.
  void ApplyMacBinaryInformation(platform::FolderItem& destination,
                                 const platform::MemoryBlockRef& mbHdr);
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
  bool IsAppleDoubleEntry() const { return thisIsTheAppleDoubleEntry; }

 private:
  void z_checkRawPath();

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
  bool hasDittoName = false;
  bool thisIsTheAppleDoubleEntry = false;
};

}  // namespace zip

// Reading the central directory: find the end record, check it, read every
// central record into an entry, and let the shared state pair AppleDouble
// companions. Every offset and length from the file is checked against the
// file and the directory before anything is read through it.
#include <algorithm>
#include <new>

#include "zip/byte_reader.h"
#include "zip/zip_archive.h"
#include "zip/zip_records.h"

namespace zip {

namespace {

namespace cr = records::central;
namespace er = records::end;

constexpr char kNotAZip[] = "File does not appear to by a Zip file ('PK' header missing)";
constexpr char kNoDirectory[] = "Central Directory not found; probably a damaged Zip file";
constexpr char kMultiSegment[] =
    "This is part of a multi-segment archive, which is not supported by the ZipArchive class";
constexpr char kTooSmall[] = "Central Directory is corrupted.";
constexpr char kNoMemory[] = "There is not enough memory available to read the archive directory";
constexpr char kCorrupted[] = "Central Directory is corrupted";
constexpr char kNewerFormat[] =
    "Archive was written in a newer format than what this software supports (it supports up to "
    "v2.0 archives)";

using records::LE32;

// The end record leaves the directory's place, size or count to zip64
// records (its fields hold their all-ones escape) and the zip64 locator
// stands before it: such an archive needs a reader of version 4.5, and its
// offsets here are no offsets at all.
bool NeedsZip64(std::string_view window, std::int64_t endInWindow,
                const platform::MemoryBlock& end) {
  const bool escaped = end.UInt32Value(er::kDirectoryOffset) == 0xFFFFFFFFu ||
                       end.UInt32Value(er::kDirectorySize) == 0xFFFFFFFFu ||
                       end.UInt16Value(er::kEntriesTotal) == 0xFFFFu;
  const std::int64_t locator = endInWindow - static_cast<std::int64_t>(er::kZip64LocatorSize);
  return escaped && locator >= 0 &&
         LE32(window, static_cast<std::size_t>(locator)) == er::kZip64LocatorSignature;
}

}  // namespace

// Finds the end record nearest to the end of the file (even one inside a
// comment), checks it and reads the archive comment. On success `endAt` is
// the record's offset, `count` its entry count and `size` the directory's size.
bool ZipArchive::z_readEndRecord(std::int64_t& endAt, std::uint32_t& count, std::int64_t& size) {
  platform::BinaryStream& s = *d->zipStream;
  const std::int64_t length = s.Length();
  const std::int64_t lower = std::max<std::int64_t>(0, length - 22 - er::kSearchSpan);
  std::string window;
  if (length >= static_cast<std::int64_t>(er::kSize)) {
    s.SetPosition(lower);
    window = s.Read(static_cast<std::size_t>(length - lower));
  }
  endAt = -1;
  for (std::int64_t p = length - static_cast<std::int64_t>(er::kSize); p >= lower; --p) {
    const std::size_t at = static_cast<std::size_t>(p - lower);
    if (at + er::kSize <= window.size() && LE32(window, at) == er::kSignature) {
      endAt = p;
      break;
    }
  }
  if (endAt < 0) {
    errmsg = kNoDirectory;
    return false;
  }
  platform::MemoryBlock end = platform::MemoryBlock::FromBytes(
      std::string_view(window).substr(static_cast<std::size_t>(endAt - lower), er::kSize));
  end.LittleEndian = true;
  if (std::uint16_t commentLength = end.UInt16Value(er::kCommentLength); commentLength != 0) {
    // A comment said to run past the end of the file keeps what is there.
    s.SetPosition(endAt + static_cast<std::int64_t>(er::kSize));
    comment_ = s.Read(commentLength);
  }
  if (end.UInt16Value(er::kThisDisk) != 0 || end.UInt16Value(er::kDirectoryDisk) != 0 ||
      end.UInt16Value(er::kEntriesOnDisk) != end.UInt16Value(er::kEntriesTotal)) {
    errmsg = kMultiSegment;
    return false;
  }
  if (NeedsZip64(window, endAt - lower, end)) {
    errmsg = kNewerFormat;
    return false;
  }
  startOfDirInArchive = end.UInt32Value(er::kDirectoryOffset);
  count = end.UInt16Value(er::kEntriesOnDisk);
  size = end.UInt32Value(er::kDirectorySize);
  if (size < static_cast<std::int64_t>(cr::kSize) * count) {
    errmsg = kTooSmall;
    return false;
  }
  // The directory must lie wholly inside the file, before the end record.
  if (startOfDirInArchive + size > endAt) {
    errmsg = kCorrupted;
    return false;
  }
  return true;
}

void ZipArchive::z_readDirectory() {
  platform::BinaryStream& s = *d->zipStream;
  s.ClearErrors();
  s.SetPosition(0);
  if (s.ReadUInt32() != records::local::kSignature) {
    errmsg = kNotAZip;
    return;
  }
  std::int64_t endAt = 0;
  std::uint32_t remaining = 0;
  std::int64_t directorySize = 0;
  if (!z_readEndRecord(endAt, remaining, directorySize)) return;
  const std::size_t size = static_cast<std::size_t>(directorySize);

  // Only entries that may be AppleDouble companions need the name index.
  bool companions = false;
  if (remaining > 0 || size > 0) {
    // The whole directory is read at once; it lies inside the file, so the
    // buffer is never larger than the file.
    std::string directory;
    try {
      directory.reserve(size);
    } catch (const std::bad_alloc&) {
      errmsg = kNoMemory;
      return;
    } catch (const std::length_error&) {
      errmsg = kNoMemory;
      return;
    }
    s.SetPosition(startOfDirInArchive);
    directory = s.Read(size);
    if (directory.size() != size) {
      errmsg = kCorrupted;
      return;
    }
    ByteReader r(directory);
    while (r.Left() > 0) {
      std::string_view fixed = r.Bytes(cr::kSize);
      if (!r.ok()) {
        errmsg = kCorrupted;
        return;
      }
      auto header =
          std::make_shared<platform::MemoryBlock>(platform::MemoryBlock::FromBytes(fixed));
      header->LittleEndian = true;
      if (header->UInt32Value(cr::kSignatureAt) != cr::kSignature) {
        errmsg = kCorrupted;
        return;
      }
      if (header->UInt16Value(cr::kVersionNeeded) > records::kMaxVersionNeeded) {
        errmsg = kNewerFormat;
        return;
      }
      std::string_view name = r.Bytes(header->UInt16Value(cr::kNameLength));
      std::string_view extraBytes = r.Bytes(header->UInt16Value(cr::kExtraLength));
      std::string_view comment = r.Bytes(header->UInt16Value(cr::kCommentLength));
      if (!r.ok()) {
        errmsg = kCorrupted;
        return;
      }
      auto extra = std::make_shared<ZipExtraField>(d, extraBytes);
      extra->Lock();
      auto entry =
          std::make_shared<ZipEntry>(d, header, std::string(name), extra, std::string(comment));
      if (entry->z_hasDittoName() && extra->IsUnixType1Only()) companions = true;
      d->entries_1.push_back(std::move(entry));
      if (remaining == 0) centralDirCorrupted = true;
      if (remaining > 0) --remaining;
    }
  }
  if (companions) {
    ZipArchiveData::NameIndex index = ZipArchiveData::MakeNameIndex(d->entries_1);
    d->checkDirectory(index);
  }
  entriesRead = true;
}

// Whether an entry's header or data reaches into the directory, where the
// next entry added would overwrite it, or from where the rewritten directory
// would cut it off: such an archive is read, but never written. Where an
// entry ends is known only from its local header's own name and extra field
// lengths; its record's may differ, and a duplicate's name is its own. A
// header that cannot be read whole runs past the end of the file, and so
// into the directory.
bool ZipArchive::z_localHeadersReachIntoDir() {
  namespace lh = records::local;
  platform::BinaryStream& s = *d->zipStream;
  for (const ZipEntry* e : d->DirectoryEntries()) {
    const platform::MemoryBlock& record = *e->z_Header();
    const std::int64_t at = record.UInt32Value(cr::kLocalHeaderOffset);
    s.ClearErrors();
    s.SetPosition(at);
    const std::string fixed = s.Read(lh::kSize);
    ByteReader r(fixed);
    r.Skip(lh::kNameLength);
    const std::uint16_t nameLength = r.U16();
    const std::uint16_t extraLength = r.U16();
    if (!r.ok()) return true;
    const std::int64_t end = at + static_cast<std::int64_t>(lh::kSize) + nameLength + extraLength +
                             record.UInt32Value(cr::kCompressedSize);
    if (end > startOfDirInArchive) return true;
  }
  return false;
}

}  // namespace zip

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
constexpr char kUnsureEnd[] =
    "Central Directory end record does not fit the file; the archive can only be opened "
    "read-only";

using records::LE32;

// The fields of an end record that say where the directory is, in the order
// that both it and the zip64 end record hold them, each with the all-ones
// value that leaves it to the zip64 end record.
enum Field { kThisDisk, kDirectoryDisk, kEntriesOnDisk, kEntriesTotal, kSize, kOffset, kFields };
constexpr std::uint64_t kEscape[kFields] = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF};

struct EndFields {
  std::uint64_t value[kFields];
  std::uint16_t commentLength;
};

EndFields ReadEndFields(std::string_view record) {
  ByteReader r(record);
  r.Skip(er::kThisDisk);
  EndFields f{};
  for (int i = kThisDisk; i <= kEntriesTotal; ++i) f.value[i] = r.U16();
  f.value[kSize] = r.U32();
  f.value[kOffset] = r.U32();
  f.commentLength = r.U16();
  return f;
}

std::string ReadAt(platform::BinaryStream& s, std::int64_t at, std::size_t count) {
  s.SetPosition(at);
  return s.Read(count);
}

// Where the end record holds a field at its escape and the zip64 locator
// stands right before it, the field's value is the one in the zip64 end
// record that the locator points at, and every other field must agree with
// that record. A value past what the end record's field could hold is one
// this reader cannot use. Null once `f` says where the directory is; else
// why it cannot, with `f` as it was.
const char* TakeZip64Fields(platform::BinaryStream& s, std::int64_t endAt, EndFields& f) {
  namespace z64 = records::zip64;
  bool escaped = false;
  for (int i = 0; i < kFields; ++i) escaped = escaped || f.value[i] == kEscape[i];
  const std::int64_t locatorAt = endAt - static_cast<std::int64_t>(er::kZip64LocatorSize);
  if (!escaped || locatorAt < 0) return nullptr;
  const std::string locator = ReadAt(s, locatorAt, er::kZip64LocatorSize);
  ByteReader l(locator);
  if (l.U32() != er::kZip64LocatorSignature) return nullptr;
  l.Skip(z64::kLocatorEndOffset - z64::kLocatorEndDisk);
  // The zip64 end record lies wholly before its locator.
  const std::uint64_t recordAt = l.U64();
  if (recordAt > static_cast<std::uint64_t>(locatorAt) ||
      static_cast<std::uint64_t>(locatorAt) - recordAt < z64::kEndSize) {
    return kCorrupted;
  }
  const std::string record = ReadAt(s, static_cast<std::int64_t>(recordAt), z64::kEndSize);
  ByteReader r(record);
  const std::uint32_t signature = r.U32();
  r.Skip(z64::kEndVersionNeeded - z64::kEndRecordSize);
  const std::uint16_t versionNeeded = r.U16();
  std::uint64_t zip64[kFields];
  for (int i = kThisDisk; i <= kDirectoryDisk; ++i) zip64[i] = r.U32();
  for (int i = kEntriesOnDisk; i < kFields; ++i) zip64[i] = r.U64();
  if (signature != z64::kEndSignature) return kCorrupted;
  if (versionNeeded > z64::kVersion) return kNewerFormat;
  EndFields taken = f;
  for (int i = 0; i < kFields; ++i) {
    if (f.value[i] != kEscape[i]) {
      if (f.value[i] != zip64[i]) return kCorrupted;
    } else if (zip64[i] > kEscape[i]) {
      return kNewerFormat;
    }
    taken.value[i] = zip64[i];
  }
  f = taken;
  return nullptr;
}

// Whether a central record starts where `f` places the directory; an empty
// directory is followed right away by the end record at `endAt`.
bool DirectoryStartsThere(platform::BinaryStream& s, std::int64_t endAt, const EndFields& f) {
  if (f.value[kSize] == 0) return f.value[kOffset] == static_cast<std::uint64_t>(endAt);
  const std::string start = ReadAt(s, static_cast<std::int64_t>(f.value[kOffset]), 4);
  return start.size() == 4 && LE32(start, 0) == cr::kSignature;
}

// The end record nearest to the end of the file whose comment reaches that
// end and whose directory starts with a central record: its offset, with
// its fields in `f`; -1 when none does. `window` holds the file's last bytes
// from `lower` on; `nearest` is set to the nearest record of all, -1 when
// there is none.
std::int64_t FittingEndRecord(platform::BinaryStream& s, std::string_view window,
                              std::int64_t lower, std::int64_t& nearest, EndFields& f) {
  const std::int64_t length = lower + static_cast<std::int64_t>(window.size());
  nearest = -1;
  for (std::int64_t p = length - static_cast<std::int64_t>(er::kSize); p >= lower; --p) {
    const std::size_t at = static_cast<std::size_t>(p - lower);
    if (LE32(window, at) != er::kSignature) continue;
    if (nearest < 0) nearest = p;
    f = ReadEndFields(window.substr(at, er::kSize));
    if (p + static_cast<std::int64_t>(er::kSize) + f.commentLength == length &&
        !TakeZip64Fields(s, p, f) && DirectoryStartsThere(s, p, f)) {
      return p;
    }
  }
  return -1;
}

// Whether a central record leaves its sizes or its local header's place to
// a zip64 extra field, which this reader does not read.
bool LeavesToZip64Extra(std::string_view record) {
  return LE32(record, cr::kCompressedSize) == 0xFFFFFFFFu ||
         LE32(record, cr::kUncompressedSize) == 0xFFFFFFFFu ||
         LE32(record, cr::kLocalHeaderOffset) == 0xFFFFFFFFu;
}

}  // namespace

// Finds the end record: the one nearest to the end of the file whose comment
// reaches that end and whose directory starts with a central record. The
// signature can turn up in a comment that quotes a record, or be spelled by
// the real record's own fields. Where no record passes, the nearest is taken
// (even one inside a comment), but the directory is not written on its
// word. The record is then checked and the archive comment read. On success
// `endAt` is the record's offset, `count` its entry count and `size` the
// directory's size.
bool ZipArchive::z_readEndRecord(std::int64_t& endAt, std::uint32_t& count, std::int64_t& size) {
  platform::BinaryStream& s = *d->zipStream;
  const std::int64_t length = s.Length();
  const std::int64_t lower = std::max<std::int64_t>(0, length - 22 - er::kSearchSpan);
  std::string window;
  if (length >= static_cast<std::int64_t>(er::kSize)) {
    s.SetPosition(lower);
    window = s.Read(static_cast<std::size_t>(length - lower));
  }
  std::int64_t nearest = -1;
  EndFields f{};
  endAt = FittingEndRecord(s, window, lower, nearest, f);
  endRecordUnsure = endAt < 0;
  const char* problem = nullptr;
  if (endRecordUnsure) {
    if (nearest < 0) {
      errmsg = kNoDirectory;
      return false;
    }
    endAt = nearest;
    f = ReadEndFields(std::string_view(window).substr(static_cast<std::size_t>(endAt - lower)));
    problem = TakeZip64Fields(s, endAt, f);
  }
  if (f.commentLength != 0) {
    // A comment said to run past the end of the file keeps what is there.
    comment_ = ReadAt(s, endAt + static_cast<std::int64_t>(er::kSize), f.commentLength);
  }
  if (problem) {
    errmsg = problem;
    return false;
  }
  if (f.value[kThisDisk] != 0 || f.value[kDirectoryDisk] != 0 ||
      f.value[kEntriesOnDisk] != f.value[kEntriesTotal]) {
    errmsg = kMultiSegment;
    return false;
  }
  startOfDirInArchive = static_cast<std::int64_t>(f.value[kOffset]);
  count = static_cast<std::uint32_t>(f.value[kEntriesOnDisk]);
  size = static_cast<std::int64_t>(f.value[kSize]);
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
  if (endRecordUnsure && s.IsWritable()) {
    errmsg = kUnsureEnd;
    return;
  }
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
      if (header->UInt16Value(cr::kVersionNeeded) > records::kMaxVersionNeeded ||
          LeavesToZip64Extra(fixed)) {
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

// Compaction: the entries that the directory will list are moved down over
// the gaps that removed and replaced entries left, in file order, their
// records re-pointed, and the directory written behind them. Every local
// header is checked against its record, the entries against each other and
// the file, before a byte is moved.
#include <algorithm>

#include "zip/write_messages.h"
#include "zip/zip_archive.h"
#include "zip/zip_records.h"

namespace zip {

namespace {

using namespace messages;
namespace cr = records::central;
namespace lh = records::local;

constexpr char kBadSignature[] =
    "Invalid Local File Header signature (archive appears to be severely corrupted)";
constexpr char kMismatch[] = "File Headers mismatch (archive appears to be severely corrupted)";
constexpr char kOverlap[] = "Archive members overlap (archive appears to be severely corrupted)";
constexpr char kOutside[] =
    "Archive member lies outside the archive (archive appears to be severely corrupted)";

// One local entry on disk and the records that point at it (several when
// duplicates share it).
struct LocalEntry {
  std::int64_t offset = 0;
  std::int64_t target = 0;  // where it lies once the gaps are closed
  std::int64_t length = 0;  // header, name, extra field and data
  platform::MemoryBlock header{lh::kSize};
  std::uint16_t flagsRead = 0;
  std::vector<ZipEntry*> records;

  // The header takes its sizes from the record, so it is written back.
  bool Rewrite() const { return (flagsRead & zip::records::kFlagDataDescriptor) != 0; }
};

std::int64_t LocalOffset(const ZipEntry& e) {
  return e.z_Header()->UInt32Value(cr::kLocalHeaderOffset);
}

// A local header whose data descriptor follows the data gets the CRC-32 and
// sizes from its record instead, so the descriptor can be left behind.
void TakeSizesFromRecord(platform::MemoryBlock& local, const platform::MemoryBlock& record) {
  local.SetUInt32Value(lh::kCrc32, record.UInt32Value(cr::kCrc32));
  local.SetUInt32Value(lh::kCompressedSize, record.UInt32Value(cr::kCompressedSize));
  local.SetUInt32Value(lh::kUncompressedSize, record.UInt32Value(cr::kUncompressedSize));
  local.SetUInt16Value(lh::kFlags, local.UInt16Value(lh::kFlags) & 0xFFF7);
}

bool SameSizes(const platform::MemoryBlock& local, const platform::MemoryBlock& record) {
  return local.UInt16Value(lh::kMethod) == record.UInt16Value(cr::kMethod) &&
         local.UInt32Value(lh::kCrc32) == record.UInt32Value(cr::kCrc32) &&
         local.UInt32Value(lh::kCompressedSize) == record.UInt32Value(cr::kCompressedSize) &&
         local.UInt32Value(lh::kUncompressedSize) == record.UInt32Value(cr::kUncompressedSize);
}

// The local entries in file order, each with the records that point at it.
std::vector<LocalEntry> GroupByOffset(std::vector<ZipEntry*> entries) {
  std::stable_sort(entries.begin(), entries.end(), [](const ZipEntry* a, const ZipEntry* b) {
    return LocalOffset(*a) < LocalOffset(*b);
  });
  std::vector<LocalEntry> locals;
  for (ZipEntry* e : entries) {
    if (locals.empty() || locals.back().offset != LocalOffset(*e)) {
      locals.emplace_back();
      locals.back().offset = LocalOffset(*e);
    }
    locals.back().records.push_back(e);
  }
  return locals;
}

// Reads one entry's local header and checks it against the records that
// point at it, as it will be written, and against where the entry before it
// ends and the directory begins (`limit`). The reason it cannot be moved, or
// null; its length is known then.
const char* ReadLocalEntry(platform::BinaryStream& s, ZipArchiveData& d, std::int64_t previousEnd,
                           std::int64_t limit, LocalEntry& local) {
  s.ClearErrors();
  s.SetPosition(local.offset);
  const std::string fixed = s.Read(lh::kSize);
  if (fixed.size() < lh::kSize || local.offset + static_cast<std::int64_t>(lh::kSize) > limit) {
    return kOutside;
  }
  platform::MemoryBlock& h = local.header;
  h.SetStringValue(0, fixed);
  h.LittleEndian = true;
  if (h.UInt32Value(lh::kSignatureAt) != lh::kSignature) return kBadSignature;
  const std::uint16_t flags = h.UInt16Value(lh::kFlags);
  local.flagsRead = flags;
  if (local.Rewrite()) TakeSizesFromRecord(h, *local.records.front()->z_Header());
  // Every record that shares the header must agree with it as it will be
  // written: one that does not would point at data it cannot be read from.
  for (const ZipEntry* e : local.records) {
    const platform::MemoryBlock& record = *e->z_Header();
    if (!SameSizes(h, record) ||
        (flags != record.UInt16Value(cr::kFlags) && !d.isFakeEntry(record, flags))) {
      return kMismatch;
    }
  }
  local.length = static_cast<std::int64_t>(lh::kSize) + h.UInt16Value(lh::kNameLength) +
                 h.UInt16Value(lh::kExtraLength) + h.UInt32Value(lh::kCompressedSize);
  if (local.offset < previousEnd) return kOverlap;
  if (local.offset + local.length > limit) return kOutside;
  return nullptr;
}

// Reads every entry and gives it its place once the gaps are closed. The
// reason they cannot be moved, or null; `compactedEnd` is where the last
// one will end then.
const char* PlanMoves(platform::BinaryStream& s, ZipArchiveData& d, std::int64_t limit,
                      std::vector<LocalEntry>& locals, std::int64_t& compactedEnd) {
  std::int64_t previousEnd = 0;
  compactedEnd = 0;
  for (LocalEntry& local : locals) {
    if (const char* problem = ReadLocalEntry(s, d, previousEnd, limit, local)) return problem;
    previousEnd = local.offset + local.length;
    local.target = compactedEnd;
    compactedEnd += local.length;
  }
  return nullptr;
}

// Points the records at their entry's new place. The descriptor stays
// behind, so the records that told readers to look for it after the data
// say so no more: a reader that checks the two headers against each other
// (7-Zip) would take the entry as damaged.
void PointRecords(const LocalEntry& local) {
  for (ZipEntry* e : local.records) {
    platform::MemoryBlock& record = *e->z_Header();
    record.SetUInt32Value(cr::kLocalHeaderOffset, static_cast<std::uint32_t>(local.target));
    if (local.Rewrite() && record.UInt16Value(cr::kFlags) == local.flagsRead) {
      record.SetUInt16Value(cr::kFlags, local.header.UInt16Value(lh::kFlags));
    }
  }
}

}  // namespace

bool ZipArchive::Compact() {
  if (!z_mayChange()) return false;
  std::vector<LocalEntry> locals = GroupByOffset(d->DirectoryEntries());

  // Everything is checked before a byte moves: the file keeps its directory
  // then. Entries that only move down leave a directory that can be written.
  platform::BinaryStream& s = *d->zipStream;
  std::int64_t compactedEnd = 0;
  const char* problem =
      PlanMoves(s, *d, std::min(startOfDirInArchive, s.Length()), locals, compactedEnd);
  if (!problem) problem = z_admit({.entriesEnd = compactedEnd});
  if (problem) {
    errmsg = problem;
    return false;
  }
  marked = false;

  for (const LocalEntry& local : locals) {
    if (local.offset != local.target || local.Rewrite()) {
      s.ClearErrors();
      s.SetPosition(local.target);
      s.Write(local.header.Bytes());
      if (s.WriteError() || !z_copy(local.offset + static_cast<std::int64_t>(lh::kSize),
                                    local.target + static_cast<std::int64_t>(lh::kSize),
                                    local.length - static_cast<std::int64_t>(lh::kSize))) {
        errmsg = kWriteError;
        return false;
      }
    }
    PointRecords(local);
  }
  startOfDirInArchive = compactedEnd;
  // The directory in the file points at where the entries were. The one
  // that fits the moved data goes out now, so that the file reads whole
  // whatever later changes do.
  return z_writeDirectory();
}

// Moves `length` bytes of the archive from `from` down to `to`, front to
// back, one chunk at a time: safe because compaction only ever moves data
// towards the start of the file. False when a read or write fell short.
bool ZipArchive::z_copy(std::int64_t from, std::int64_t to, std::int64_t length) {
  if (from == to) return true;
  platform::BinaryStream& s = *d->zipStream;
  const std::int64_t chunk = std::max<std::int32_t>(d->copyChunkSize, 1);
  while (length > 0) {
    const std::int64_t n = std::min(length, chunk);
    s.SetPosition(from);
    const std::string bytes = s.Read(static_cast<std::size_t>(n));
    s.SetPosition(to);
    s.Write(bytes);
    if (s.ReadError() || s.WriteError()) return false;
    from += n;
    to += n;
    length -= n;
  }
  return true;
}

}  // namespace zip

// Writing the central directory: one record per entry at the end of the last
// local entry, the end record behind them, and the file cut there. Every
// length and offset was checked when the change that made it was let
// through, so only a failed write can refuse it.
#include <algorithm>

#include "platform/framework_exceptions.h"
#include "zip/write_messages.h"
#include "zip/zip_archive.h"
#include "zip/zip_records.h"

namespace zip {

namespace {

namespace cr = records::central;
namespace er = records::end;

using namespace messages;

constexpr char kWriteFailed[] = "Writing the archive directory failed";

// Records are gathered into a buffer and written a piece at a time.
constexpr std::size_t kWriteBuffer = 1 << 20;

std::string EndRecord(std::size_t entries, std::int64_t directorySize, std::int64_t directoryAt,
                      std::size_t commentLength) {
  platform::MemoryBlock end(er::kSize);
  end.LittleEndian = true;
  end.SetUInt32Value(er::kSignatureAt, er::kSignature);
  end.SetUInt16Value(er::kEntriesOnDisk, static_cast<std::uint16_t>(entries));
  end.SetUInt16Value(er::kEntriesTotal, static_cast<std::uint16_t>(entries));
  end.SetUInt32Value(er::kDirectorySize, static_cast<std::uint32_t>(directorySize));
  end.SetUInt32Value(er::kDirectoryOffset, static_cast<std::uint32_t>(directoryAt));
  end.SetUInt16Value(er::kCommentLength, static_cast<std::uint16_t>(commentLength));
  return end.Bytes();
}

// Readers take the 20 bytes right before the end record for a zip64 locator
// when they begin with its signature, and then look for the directory where
// the zip64 end record it points at says. Any record's tail can spell that
// (through its comment, extra field, name, or even its attributes and
// offset) once it comes to be the last, so such a directory gets a genuine
// zip64 end record and locator behind it, saying what the end record says.
// (A directory without records lists nothing that could be misread.)
bool EndsLikeZip64Locator(std::string_view records) {
  return records.size() >= er::kZip64LocatorSize &&
         zip::records::LE32(records, records.size() - er::kZip64LocatorSize) ==
             er::kZip64LocatorSignature;
}

// Every number here fits 32 bits, so the high halves of the 64-bit fields
// stay 0.
std::string Zip64EndRecords(std::size_t entries, std::int64_t directorySize,
                            std::int64_t directoryAt) {
  namespace z64 = records::zip64;
  platform::MemoryBlock end(z64::kRecordsSize);
  end.LittleEndian = true;
  end.SetUInt32Value(z64::kEndSignatureAt, z64::kEndSignature);
  end.SetUInt32Value(z64::kEndRecordSize, z64::kEndSize - z64::kEndVersionMadeBy);
  end.SetUInt16Value(z64::kEndVersionMadeBy, z64::kVersion);
  end.SetUInt16Value(z64::kEndVersionNeeded, z64::kVersion);
  end.SetUInt32Value(z64::kEndEntriesOnDisk, static_cast<std::uint32_t>(entries));
  end.SetUInt32Value(z64::kEndEntriesTotal, static_cast<std::uint32_t>(entries));
  end.SetUInt32Value(z64::kEndDirectorySize, static_cast<std::uint32_t>(directorySize));
  end.SetUInt32Value(z64::kEndDirectoryOffset, static_cast<std::uint32_t>(directoryAt));
  const std::size_t locator = z64::kEndSize;
  end.SetUInt32Value(locator + z64::kLocatorSignatureAt, er::kZip64LocatorSignature);
  end.SetUInt32Value(locator + z64::kLocatorEndOffset,
                     static_cast<std::uint32_t>(directoryAt + directorySize));
  end.SetUInt32Value(locator + z64::kLocatorTotalDisks, 1);
  return end.Bytes();
}

// One record as written: the fixed part with the lengths of what follows,
// then the name, the extra field and the comment. An entry made on a record
// of zeros gets its signature here.
std::string RecordBytes(ZipEntry& e) {
  platform::MemoryBlock& record = *e.z_Header();
  const std::string extra = e.ExtraFieldInCentralDir()->AsData();
  record.SetUInt32Value(cr::kSignatureAt, cr::kSignature);
  record.SetUInt16Value(cr::kNameLength, static_cast<std::uint16_t>(e.z_origEncodedName().size()));
  record.SetUInt16Value(cr::kExtraLength, static_cast<std::uint16_t>(extra.size()));
  record.SetUInt16Value(cr::kCommentLength,
                        static_cast<std::uint16_t>(e.z_origEncodedComment().size()));
  return record.Bytes() + e.z_origEncodedName() + extra + e.z_origEncodedComment();
}

// 7-Zip reads a local header at the start of the file that no record points
// at as a member of its own, ahead of the archive proper; beside zip64
// records it then reports the archive damaged, however they are written.
bool LeadingGapAndZip64(const std::vector<ZipEntry*>& entries) {
  if (entries.empty() || !EndsLikeZip64Locator(RecordBytes(*entries.back()))) return false;
  return std::none_of(entries.begin(), entries.end(), [](const ZipEntry* e) {
    return e->z_Header()->UInt32Value(cr::kLocalHeaderOffset) == 0;
  });
}

}  // namespace

bool ZipArchive::z_writeDirectory() {
  if (!d->dirty) return true;
  if (!writeMode) {
    z_noWriteMsg();
    return false;
  }
  // An archive without members is not a valid zip file to every reader, so
  // it gets a single empty one. The gate has kept room for it; should it
  // fail even so, the directory is still written, without it.
  if (d->EntryCount() == 0) {
    z_zip(nullptr, 0, nullptr, 0, nullptr, kStandInName, std::nullopt, nullptr);
  }
  // Such a directory goes behind the entries moved down over the gaps, so
  // that the first lies at the start; should that be refused, it is written
  // as it stands.
  const std::vector<ZipEntry*> entries = d->DirectoryEntries();
  if (LeadingGapAndZip64(entries) && Compact()) return true;
  if (!z_writeRecords(entries, d->DirectorySize())) {
    errmsg = kWriteFailed;
    return false;
  }
  d->dirty = false;
  return true;
}

// Writes the checked records and the end record at the directory's place and
// cuts the file behind them. False when any write or the cut failed.
bool ZipArchive::z_writeRecords(const std::vector<ZipEntry*>& entries, std::int64_t directorySize) {
  platform::BinaryStream& s = *d->zipStream;
  s.ClearErrors();
  s.SetPosition(startOfDirInArchive);
  std::string buffer;
  buffer.reserve(static_cast<std::size_t>(std::min<std::int64_t>(directorySize, kWriteBuffer)) +
                 er::kSize + comment_.size());
  for (ZipEntry* e : entries) {
    // Written ahead of a record, so that the last one is still at hand.
    if (buffer.size() >= kWriteBuffer) {
      s.Write(buffer);
      buffer.clear();
    }
    buffer += RecordBytes(*e);
  }
  if (EndsLikeZip64Locator(buffer)) {
    buffer += Zip64EndRecords(entries.size(), directorySize, startOfDirInArchive);
  }
  buffer += EndRecord(entries.size(), directorySize, startOfDirInArchive, comment_.size());
  buffer += comment_;
  s.Write(buffer);
  return !s.WriteError() && s.SetLength(s.Position());
}

bool ZipArchive::Flush() {
  return z_mayChange() && z_writeDirectory();
}

bool ZipArchive::Close() {
  if (!d || !d->zipStream) return true;
  const bool result = z_writeDirectory();
  // An entry added since the open has written over the old directory, so
  // the one in memory is all that is left of the old members: the archive
  // stays open with it, for a later Flush or Close once the cause is gone.
  if (!result && writeMode) return false;
  d->zipStream->Close();
  d->zipStream.reset();
  d->ClearEntries();
  entriesRead = false;
  justCreated = false;
  marked = false;
  return result;
}

}  // namespace zip

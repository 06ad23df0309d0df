// Writing one entry: its local header over the old directory at the end of
// the last entry, its deflated content behind it, and its central record in
// memory. Whatever the sizes, offsets and 16-bit lengths cannot hold is
// refused before the first byte is written.
#include "platform/framework_exceptions.h"
#include "zip/write_messages.h"
#include "zip/zip_archive.h"
#include "zip/zip_records.h"

namespace zip {

namespace {

using namespace messages;
namespace cr = records::central;
namespace lh = records::local;

namespace mb = records::macbinary;

// The most bytes deflate can make of `size` bytes, however badly they
// compress (zlib's own bound for any setting, and room for the framing).
std::int64_t DeflateBound(std::int64_t size) {
  return size + (size + 7) / 8 + (size + 63) / 64 + 32;
}

platform::MemoryBlockRef NewRecord(const ZipArchiveData& d, std::size_t nameLength,
                                   std::size_t extraLength, std::int64_t size,
                                   const std::optional<platform::Date>& modified) {
  auto record = std::make_shared<platform::MemoryBlock>(cr::kSize);
  record->LittleEndian = true;
  std::uint16_t time = 0, date = 0;
  if (modified) platform::DateToDosDateTime(*modified, time, date);
  record->SetUInt32Value(cr::kSignatureAt, cr::kSignature);
  record->SetUInt8Value(cr::kVersionMadeBy, records::kVersionWritten);
  record->SetUInt8Value(cr::kHostSystem, static_cast<std::uint8_t>(d.defaultOSMadeBy & 0xFF));
  record->SetUInt16Value(cr::kVersionNeeded, records::kVersionWritten);
  record->SetUInt16Value(cr::kMethod, size > 0 ? 8 : 0);
  record->SetUInt16Value(cr::kTime, time);
  record->SetUInt16Value(cr::kDate, date);
  record->SetUInt32Value(cr::kUncompressedSize, static_cast<std::uint32_t>(size));
  record->SetUInt16Value(cr::kNameLength, static_cast<std::uint16_t>(nameLength));
  record->SetUInt16Value(cr::kExtraLength, static_cast<std::uint16_t>(extraLength));
  record->SetUInt32Value(cr::kExternalAttributes,
                         d.archiveEncoding == &platform::TextEncoding::UTF8() ? 1 : 0);
  return record;
}

// The local header that goes with a new central record: the same version,
// flags, method, time and date, the final size, and CRC-32 and compressed
// size left 0 until the data has been written.
std::string LocalHeader(const platform::MemoryBlock& record, const std::string& name,
                        const std::string& extra) {
  platform::MemoryBlock local(lh::kSize);
  local.LittleEndian = true;
  local.SetUInt32Value(lh::kSignatureAt, lh::kSignature);
  local.SetStringValue(lh::kVersionNeeded,
                       record.StringValue(cr::kVersionNeeded, lh::kCrc32 - lh::kVersionNeeded));
  local.SetUInt32Value(lh::kUncompressedSize, record.UInt32Value(cr::kUncompressedSize));
  local.SetUInt16Value(lh::kNameLength, static_cast<std::uint16_t>(name.size()));
  local.SetUInt16Value(lh::kExtraLength, static_cast<std::uint16_t>(extra.size()));
  return local.Bytes() + name + extra;
}

}  // namespace

void ZipArchive::z_noWriteMsg() {
  errmsg = kReadOnly;
}

bool ZipArchive::z_mayChange() {
  if (!writeMode) {
    z_noWriteMsg();
    return false;
  }
  if (!entriesRead) throw platform::RuntimeException();
  return true;
}

// Why an entry cannot be written, or null; `size` is then its content size,
// and the directory is marked changed. Raises RuntimeException for a
// MacBinary header whose fork lengths are not the lengths given.
const char* ZipArchive::z_entryProblem(const EntrySources& src, std::size_t headerLength,
                                       const RecordFields& fields, std::int64_t& size) {
  const auto outOfRange = [](std::int64_t n) { return n < 0 || n > records::kMaxEntrySize; };
  if (outOfRange(src.dataLength) || outOfRange(src.rsrcLength)) return kItemTooLarge;
  size = src.dataLength;
  if (src.macBinary) {
    const platform::MemoryBlock& h = *src.macBinary;
    if (h.Size() < mb::kSize ||
        h.UInt32Value(mb::kDataLength) != static_cast<std::uint32_t>(src.dataLength) ||
        h.UInt32Value(mb::kResourceLength) != static_cast<std::uint32_t>(src.rsrcLength)) {
      throw platform::RuntimeException();
    }
    size = mb::StreamLength(src.dataLength, src.rsrcLength);
  }
  if (size > records::kMaxEntrySize) return kItemTooLarge;
  const std::int64_t entryEnd = startOfDirInArchive + static_cast<std::int64_t>(headerLength) +
                                (size > 0 ? DeflateBound(size) : 0);
  return z_admit({.records = 1,
                  .recordBytes = fields.Bytes(),
                  .entries = 1,
                  .entriesEnd = entryEnd,
                  .fields = fields});
}

std::int32_t ZipArchive::z_zip(SeqDataInputStream* data, std::int64_t dataLength,
                               SeqDataInputStream* rsrc, std::int64_t rsrcLength,
                               const platform::MemoryBlock* macBinary, std::string_view rawPath,
                               const std::optional<platform::Date>& modified,
                               ZipExtraFieldRef extra) {
  platform::BinaryStream& s = *d->zipStream;
  if (rawPath.empty()) {
    errmsg = kEmptyName;
    return kInvalidArgument;
  }
  const std::string name = z_pathToEncName(rawPath);
  std::string extraBytes;
  if (extra) {
    extraBytes = extra->AsData();
    extra->Lock();
  }
  const EntrySources src{data, data ? dataLength : 0, rsrc, rsrc && macBinary ? rsrcLength : 0,
                         macBinary};
  std::int64_t size = 0;
  const std::size_t headerLength = lh::kSize + name.size() + extraBytes.size();
  const RecordFields fields{name.size(), extraBytes.size(), 0};
  if (const char* problem = z_entryProblem(src, headerLength, fields, size)) {
    errmsg = problem;
    return kInvalidArgument;
  }

  platform::MemoryBlockRef record = NewRecord(*d, name.size(), extraBytes.size(), size, modified);
  record->SetUInt32Value(cr::kLocalHeaderOffset, static_cast<std::uint32_t>(startOfDirInArchive));
  auto entry = std::make_shared<ZipEntry>(d, record, name, extra, std::string());
  s.ClearErrors();
  s.SetPosition(startOfDirInArchive);
  s.Write(LocalHeader(*record, name, extraBytes));
  if (s.WriteError()) {
    errmsg = kWriteError;
    return kBytesDoNotAddUp;
  }
  const std::int64_t dataStart = startOfDirInArchive + static_cast<std::int64_t>(headerLength);
  std::uint32_t crc = 0;
  std::int64_t end = dataStart;
  if (size > 0) {
    const std::int32_t result = z_writeContent(src, *entry, size, dataStart, crc, end);
    if (result <= 0) return result;
    // Only the CRC-32 and the compressed size were not known beforehand.
    s.SetPosition(startOfDirInArchive + static_cast<std::int64_t>(lh::kCrc32));
    s.WriteUInt32(crc);
    s.WriteUInt32(static_cast<std::uint32_t>(end - dataStart));
    if (s.WriteError()) {
      errmsg = kWriteError;
      return kBytesDoNotAddUp;
    }
  }
  record->SetUInt32Value(cr::kCrc32, crc);
  record->SetUInt32Value(cr::kCompressedSize, static_cast<std::uint32_t>(end - dataStart));
  startOfDirInArchive = end;
  d->entries_1.push_back(entry);
  // The directory grows by this record only once the entry is listed, so
  // its known size stays right whatever happens on the way.
  d->GrowDirectory(fields.Bytes());
  return d->EntryCount();
}

std::int32_t ZipArchive::AddItemByStreams(SeqDataInputStream* data, std::int64_t dataLength,
                                          SeqDataInputStream* rsrc, std::int64_t rsrcLength,
                                          const platform::MemoryBlock* macBinaryHeader,
                                          std::string_view rawPath, ZipExtraFieldRef extra,
                                          const std::optional<platform::Date>& date) {
  // A resource fork can only be stored in MacBinary form.
  if (rsrc && !macBinaryHeader) throw platform::RuntimeException();
  if (!z_mayChange()) return 0;
  return z_zip(data, dataLength, rsrc, rsrcLength, macBinaryHeader, rawPath, date,
               std::move(extra));
}

bool ZipArchive::z_abort(const platform::FolderItem& file, std::int32_t code,
                         const std::string& msg, bool skippable) {
  errmsg = msg;
  bool abort = true;
  if (const std::shared_ptr<ZipProgressNotifier> monitor = d->monitor) {
    abort = false;
    monitor->ZipFileError(file, code, msg, abort);
  }
  return !skippable || abort;
}

}  // namespace zip

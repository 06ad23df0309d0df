// MacBinary headers: building one for an item being added, and telling the
// MacBinary level of one found at the start of a member's data.
#include <algorithm>

#include "platform/apple_double.h"
#include "platform/checksums.h"
#include "platform/framework_exceptions.h"
#include "platform/text_encoding.h"
#include "zip/zip_archive.h"
#include "zip/zip_entry.h"
#include "zip/zip_records.h"

namespace zip {

namespace mb = records::macbinary;
using platform::MemoryBlock;
using platform::MemoryBlockRef;

namespace {

// A type or creator as its 4-byte field: cut, or filled with zero bytes.
std::string Code4(std::string_view code) {
  std::string out(code.substr(0, 4));
  out.resize(4, '\0');
  return out;
}

// Finder flags, script and lock of an existing item, as the header keeps them.
void PutItemMetadata(MemoryBlock& h, const platform::FolderItem& item, bool ownName) {
  h.SetUInt8Value(mb::kProtected, item.Locked() ? 1 : 0);
  if (!item.Exists()) {
    h.SetUInt8Value(mb::kFinderFlagsHigh, item.Visible() ? 0 : 0x40);
    return;
  }
  const std::string info = item.FinderInfo();
  auto byte = [&](std::size_t at) { return static_cast<std::uint8_t>(info[at]); };
  h.SetUInt8Value(mb::kFinderFlagsHigh, byte(platform::finder_info::kFlags) & 0xFE);
  h.SetUInt8Value(mb::kFinderFlagsLow, byte(platform::finder_info::kFlags + 1));
  if (ownName) h.SetUInt8Value(mb::kScript, byte(platform::finder_info::kScript));
}

}  // namespace

MemoryBlockRef ZipArchive::MakeMacBinaryHeader(const platform::FolderItem& item) const {
  return MakeMacBinaryHeader(item, static_cast<std::int32_t>(item.Length()),
                             static_cast<std::int32_t>(item.ResourceForkLength()), item.Name());
}

MemoryBlockRef ZipArchive::MakeMacBinaryHeader(const platform::FolderItem& item,
                                               std::int32_t dataLength, std::int32_t rsrcLength,
                                               std::string_view name) const {
  return z_makeMBHdr(dataLength, rsrcLength, name, item.MacType(), item.MacCreator(),
                     item.CreationDate(), item.ModificationDate(), &item);
}

MemoryBlockRef ZipArchive::MakeMacBinaryHeader(std::int32_t dataLength, std::int32_t rsrcLength,
                                               std::string_view name, std::string_view type,
                                               std::string_view creator,
                                               std::optional<platform::Date> created,
                                               std::optional<platform::Date> modified) const {
  return z_makeMBHdr(dataLength, rsrcLength, name, type, creator, created, modified, nullptr);
}

MemoryBlockRef ZipArchive::z_makeMBHdr(std::int32_t dataLength, std::int32_t rsrcLength,
                                       std::string_view name, std::string_view type,
                                       std::string_view creator,
                                       std::optional<platform::Date> created,
                                       std::optional<platform::Date> modified,
                                       const platform::FolderItem* item) const {
  if (name.empty()) throw platform::RuntimeException();
  auto h = std::make_shared<MemoryBlock>(mb::kSize);
  h->LittleEndian = false;
  if (item) PutItemMetadata(*h, *item, name == item->Name());
  const platform::TextEncoding* script = ZipEntry::ScriptEncoding(h->UInt8Value(mb::kScript));
  std::string macName = platform::ConvertEncoding(
      name, platform::TextEncoding::UTF8(), script ? *script : platform::TextEncoding::MacRoman());
  macName.resize(std::min(macName.size(), mb::kMaxName));
  h->SetUInt8Value(mb::kNameLength, static_cast<std::uint8_t>(macName.size()));
  h->SetStringValue(mb::kName, macName);
  h->SetStringValue(mb::kType, Code4(type));
  h->SetStringValue(mb::kCreator, Code4(creator));
  if (created) h->SetInt32Value(mb::kCreated, z_dblToLong(created->TotalSeconds()));
  if (modified) h->SetInt32Value(mb::kModified, z_dblToLong(modified->TotalSeconds()));
  h->SetInt32Value(mb::kDataLength, dataLength);
  h->SetInt32Value(mb::kResourceLength, rsrcLength);
  h->SetUInt32Value(mb::kSignature, mb::kSignatureValue);
  h->SetUInt8Value(mb::kWriterVersion, mb::kVersionWritten);
  h->SetUInt8Value(mb::kReaderVersion, mb::kVersionNeeded);
  h->SetUInt16Value(mb::kCrc, platform::Crc16_MemoryBlock(*h, 0, mb::kCrc, 0));
  return h;
}

std::int32_t ZipArchive::z_dblToLong(double value) const {
  value = std::clamp(value, 0.0, 4294967295.0);
  if (maxIntPlus1 > value) return static_cast<std::int32_t>(value);
  return static_cast<std::int32_t>(value - maxIntPlus1 - maxIntPlus1);
}

std::int32_t ZipEntry::z_CRC(const MemoryBlock& mb, std::int32_t length) {
  return platform::Crc16_MemoryBlock(mb, 0, static_cast<std::size_t>(std::max(length, 0)), 0);
}

std::int32_t ZipEntry::z_MBHdrLevel(const MemoryBlock& header) const {
  if (header.Size() < mb::kSize) return 0;
  MemoryBlock h = header;
  h.LittleEndian = false;
  const std::uint8_t nameLength = h.UInt8Value(mb::kNameLength);
  if (h.UInt8Value(mb::kOldVersion) != 0 || h.UInt8Value(mb::kZeroFill) != 0 ||
      h.Int16Value(mb::kReserved) != 0 || h.Int32Value(mb::kDataLength) < 0 ||
      h.Int32Value(mb::kResourceLength) < 0 || nameLength < 1 || nameLength > mb::kMaxName) {
    return 0;
  }
  if (h.UInt16Value(mb::kCrc) == z_CRC(h, static_cast<std::int32_t>(mb::kCrc))) {
    if (h.UInt32Value(mb::kSignature) != mb::kSignatureValue) return 2;
    return h.UInt8Value(mb::kReaderVersion) > mb::kVersionWritten ? 4 : 3;
  }
  return supportMB1 && nameLength <= 31 ? 1 : 0;
}

}  // namespace zip

#include "zip/zip_extra_field.h"

#include <cstring>

#include "zip/byte_reader.h"
#include "zip/zip_archive_data.h"
#include "zip/zip_records.h"

namespace zip {

namespace ex = records::extra;

ZipExtraField::ZipExtraField(std::shared_ptr<ZipArchiveData> d, std::string_view block)
    : d_(std::move(d)) {
  if (block.empty()) return;
  data_.emplace(platform::MemoryBlock::FromBytes(block));
  data_->LittleEndian = true;
  const std::size_t n = block.size();
  for (std::size_t i = 0; i + ex::kRecordHeader < n;) {
    std::size_t size = data_->UInt16Value(i + 2);
    if (size < 1 || i + size + ex::kRecordHeader > n) break;
    std::uint16_t id = data_->UInt16Value(i);
    if (size >= ex::kMacMinData && (id == ex::kMacLongId || id == ex::kMacShortId) &&
        block.substr(i + ex::kMacSignatureAt, 4) == ex::kMacSignature) {
      zpit_rec_ = static_cast<std::int32_t>(i);  // the last Mac record counts
    }
    i += size + ex::kRecordHeader;
  }
  if (zpit_rec_ < 0 && n == ex::kUnixType1Size && data_->UInt16Value(0) == ex::kUnixType1Id &&
      data_->UInt16Value(2) == 8) {
    hasUXonly_ = true;
    accTime_ = data_->Int32Value(ex::kUnixAccessTime);
    modTime_ = data_->Int32Value(ex::kUnixModTime);
  }
}

std::string ZipExtraField::AsData() const {
  return data_ ? data_->Bytes() : std::string();
}

bool ZipExtraField::GetTypeCreatorName(std::string& type, std::string& creator,
                                       platform::Text& name) const {
  if (!data_ || zpit_rec_ < 0) return false;
  const std::string block = data_->Bytes();
  ByteReader r(std::string_view(block).substr(static_cast<std::size_t>(zpit_rec_)));
  std::uint16_t id = r.U16();
  std::uint16_t size = r.U16();
  // Only the record's own bytes may be read, whatever its length byte claims.
  ByteReader rec(r.Bytes(size));
  rec.Skip(4);  // "ZPIT"
  std::string_view storedName;
  if (id == ex::kMacLongId && size >= ex::kMacMinData + 1) {
    storedName = rec.Bytes(rec.U8());
  } else if (!(id == ex::kMacShortId && size >= ex::kMacMinData)) {
    return false;
  }
  std::string_view t = rec.Bytes(4);
  std::string_view c = rec.Bytes(4);
  if (!r.ok() || !rec.ok()) return false;
  type.assign(t);
  creator.assign(c);
  name = d_->decodeFromZip(storedName);
  return true;
}

bool ZipExtraField::GetUnixTimes(std::int32_t& accessTime, std::int32_t& modTime) const {
  if (accTime_ == 0) return false;
  accessTime = accTime_;
  modTime = modTime_;
  return true;
}

std::string MakeMacExtraBlock(const ZipArchiveData& d, std::string_view type,
                              std::string_view creator, std::string_view name) {
  std::string stored(name);
  if (!stored.empty() && platform::IsValidUTF8(stored)) stored = d.encodeForZip(stored);
  // The length byte cannot count past 255.
  if (stored.size() > 255) stored.resize(255);
  const std::size_t m = stored.empty() ? 0 : stored.size() + 1;
  platform::MemoryBlock block(m + 16);
  block.LittleEndian = true;
  block.SetUInt16Value(0, m == 0 ? ex::kMacShortId : ex::kMacLongId);
  block.SetUInt16Value(2, static_cast<std::uint16_t>(block.Size() - 4));
  block.SetStringValue(ex::kMacSignatureAt, ex::kMacSignature);
  if (m != 0) {
    block.SetUInt8Value(ex::kMacNameAt, static_cast<std::uint8_t>(stored.size()));
    block.SetStringValue(ex::kMacNameAt + 1, stored);
  }
  block.SetStringValue(m + 8, type.substr(0, 4));
  block.SetStringValue(m + 12, creator.substr(0, 4));
  return block.Bytes();
}

}  // namespace zip

#include "zip/locator_lookalike.h"

#include <cstdint>
#include <string>

#include "zip/zip_records.h"

namespace zip {

namespace cr = records::central;
namespace er = records::end;

bool EndsLikeZip64Locator(const platform::MemoryBlock& record, std::string_view name,
                          std::string_view extra, std::string_view comment) {
  platform::MemoryBlock fixed = record;
  fixed.LittleEndian = true;
  fixed.SetUInt16Value(cr::kNameLength, static_cast<std::uint16_t>(name.size()));
  fixed.SetUInt16Value(cr::kExtraLength, static_cast<std::uint16_t>(extra.size()));
  fixed.SetUInt16Value(cr::kCommentLength, static_cast<std::uint16_t>(comment.size()));
  const std::string head = fixed.Bytes();
  const std::string_view parts[] = {head, name, extra, comment};
  std::size_t length = 0;
  for (std::string_view part : parts) length += part.size();
  if (length < er::kZip64LocatorSize) return false;
  // The byte at `at` of the record as written, wherever its part begins.
  const auto byteAt = [&parts](std::size_t at) {
    for (std::string_view part : parts) {
      if (at < part.size()) return static_cast<std::uint8_t>(part[at]);
      at -= part.size();
    }
    return std::uint8_t{0};
  };
  const std::size_t start = length - er::kZip64LocatorSize;
  std::uint32_t word = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    word |= static_cast<std::uint32_t>(byteAt(start + i)) << 8 * i;
  }
  return word == er::kZip64LocatorSignature;
}

bool EndsLikeZip64Locator(const ZipEntry& e) {
  return EndsLikeZip64Locator(*e.z_Header(), e.z_origEncodedName(),
                              e.ExtraFieldInCentralDir()->AsData(), e.z_origEncodedComment());
}

}  // namespace zip

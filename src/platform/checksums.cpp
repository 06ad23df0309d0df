#include "platform/checksums.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <limits>

namespace platform {

namespace {

constexpr std::array<std::uint16_t, 256> MakeCrc16Table() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned c = i << 8;
    for (int bit = 0; bit < 8; ++bit) c = (c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1;
    table[i] = static_cast<std::uint16_t>(c);
  }
  return table;
}

constexpr std::array<std::uint16_t, 256> kCrc16Table = MakeCrc16Table();

}  // namespace

std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc) {
  const auto* p = reinterpret_cast<const Bytef*>(bytes.data());
  std::size_t left = bytes.size();
  uLong c = crc;
  // zlib takes a uInt count; feed a long string in pieces that fit.
  while (left > 0) {
    const std::size_t n = std::min<std::size_t>(left, std::numeric_limits<uInt>::max());
    c = ::crc32(c, p, static_cast<uInt>(n));
    p += n;
    left -= n;
  }
  return static_cast<std::uint32_t>(c);
}

std::uint16_t Crc16_MemoryBlock(const MemoryBlock& block, std::size_t offset, std::size_t length,
                                std::uint16_t crc) {
  const std::string bytes = block.StringValue(offset, length);
  unsigned c = crc;
  for (char ch : bytes) {
    c = ((c << 8) ^ kCrc16Table[((c >> 8) ^ static_cast<std::uint8_t>(ch)) & 0xFF]) & 0xFFFF;
  }
  return static_cast<std::uint16_t>(c);
}

}  // namespace platform

#pragma once
// The two checksums the archive code needs: the CRC-32 of zip and gzip
// members, and the CRC-16 that guards a MacBinary II/III header.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/memory_block.h"

namespace platform {

// The CRC-32 of `bytes` continued from `crc`; 0 starts a new one.
std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc);

// The CRC-16 of `length` bytes of `block` from `offset`, continued from
// `crc`: polynomial 0x1021, no reflection, no final xor (the XMODEM form).
// Bytes outside the block raise OutOfBoundsException.
std::uint16_t Crc16_MemoryBlock(const MemoryBlock& block, std::size_t offset, std::size_t length,
                                std::uint16_t crc);

}  // namespace platform

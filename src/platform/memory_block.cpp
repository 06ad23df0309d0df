#include "platform/memory_block.h"

#include <cstring>
#include <new>

#include "platform/framework_exceptions.h"

namespace platform {

MemoryBlock::MemoryBlock(std::size_t size) {
  try {
    bytes_.assign(size, 0);
  } catch (const std::bad_alloc&) {
    throw OutOfMemoryException();
  } catch (const std::length_error&) {
    throw OutOfMemoryException();
  }
}

MemoryBlock MemoryBlock::FromBytes(std::string_view bytes) {
  MemoryBlock block(bytes.size());
  if (!bytes.empty()) std::memcpy(block.bytes_.data(), bytes.data(), bytes.size());
  return block;
}

void MemoryBlock::Check(std::size_t offset, std::size_t width) const {
  if (offset > bytes_.size() || width > bytes_.size() - offset) throw OutOfBoundsException();
}

std::uint64_t MemoryBlock::Get(std::size_t offset, std::size_t width) const {
  Check(offset, width);
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) {
    std::size_t at = LittleEndian ? offset + width - 1 - i : offset + i;
    value = (value << 8) | bytes_[at];
  }
  return value;
}

void MemoryBlock::Put(std::size_t offset, std::size_t width, std::uint64_t value) {
  Check(offset, width);
  for (std::size_t i = 0; i < width; ++i) {
    std::size_t at = LittleEndian ? offset + i : offset + width - 1 - i;
    bytes_[at] = static_cast<std::uint8_t>(value & 0xFF);
    value >>= 8;
  }
}

std::uint8_t MemoryBlock::UInt8Value(std::size_t offset) const {
  return static_cast<std::uint8_t>(Get(offset, 1));
}
std::uint16_t MemoryBlock::UInt16Value(std::size_t offset) const {
  return static_cast<std::uint16_t>(Get(offset, 2));
}
std::uint32_t MemoryBlock::UInt32Value(std::size_t offset) const {
  return static_cast<std::uint32_t>(Get(offset, 4));
}
std::int16_t MemoryBlock::Int16Value(std::size_t offset) const {
  return static_cast<std::int16_t>(UInt16Value(offset));
}
std::int32_t MemoryBlock::Int32Value(std::size_t offset) const {
  return static_cast<std::int32_t>(UInt32Value(offset));
}
void MemoryBlock::SetUInt8Value(std::size_t offset, std::uint8_t value) {
  Put(offset, 1, value);
}
void MemoryBlock::SetUInt16Value(std::size_t offset, std::uint16_t value) {
  Put(offset, 2, value);
}
void MemoryBlock::SetUInt32Value(std::size_t offset, std::uint32_t value) {
  Put(offset, 4, value);
}

std::string MemoryBlock::StringValue(std::size_t offset, std::size_t length) const {
  Check(offset, length);
  return std::string(reinterpret_cast<const char*>(bytes_.data()) + offset, length);
}

void MemoryBlock::SetStringValue(std::size_t offset, std::string_view bytes) {
  Check(offset, bytes.size());
  if (!bytes.empty()) std::memcpy(bytes_.data() + offset, bytes.data(), bytes.size());
}

std::string MemoryBlock::PStringValue(std::size_t offset) const {
  std::size_t length = UInt8Value(offset);
  return StringValue(offset + 1, length);
}

}  // namespace platform

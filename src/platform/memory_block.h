#pragma once
// A block of bytes with numbers read and written at byte offsets, big- or
// little-endian as the block's flag says. Every access is checked against
// the block's size: reaching outside it raises OutOfBoundsException, so a
// bad offset can never touch memory beyond the block.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class MemoryBlock {
 public:
  // A zero-filled block; raises OutOfMemoryException when it cannot be allocated.
  explicit MemoryBlock(std::size_t size);
  // A block holding a copy of the bytes.
  static MemoryBlock FromBytes(std::string_view bytes);

  std::size_t Size() const { return bytes_.size(); }
  const std::uint8_t* Data() const { return bytes_.data(); }
  std::uint8_t* Data() { return bytes_.data(); }

  bool LittleEndian = false;

  std::uint8_t UInt8Value(std::size_t offset) const;
  std::uint16_t UInt16Value(std::size_t offset) const;
  std::uint32_t UInt32Value(std::size_t offset) const;
  std::int16_t Int16Value(std::size_t offset) const;
  std::int32_t Int32Value(std::size_t offset) const;
  void SetUInt8Value(std::size_t offset, std::uint8_t value);
  void SetUInt16Value(std::size_t offset, std::uint16_t value);
  void SetUInt32Value(std::size_t offset, std::uint32_t value);
  void SetInt32Value(std::size_t offset, std::int32_t value) {
    SetUInt32Value(offset, static_cast<std::uint32_t>(value));
  }

  // `length` bytes from `offset`, as they stand.
  std::string StringValue(std::size_t offset, std::size_t length) const;
  void SetStringValue(std::size_t offset, std::string_view bytes);
  // A length byte followed by that many bytes.
  std::string PStringValue(std::size_t offset) const;
  std::string Bytes() const { return StringValue(0, Size()); }

 private:
  void Check(std::size_t offset, std::size_t width) const;
  std::uint64_t Get(std::size_t offset, std::size_t width) const;
  void Put(std::size_t offset, std::size_t width, std::uint64_t value);

  std::vector<std::uint8_t> bytes_;
};

using MemoryBlockRef = std::shared_ptr<MemoryBlock>;

}  // namespace platform

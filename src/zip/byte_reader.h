#pragma once
// A bounds-checked reader over bytes from outside. Every get checks the bytes
// left; when they are too few it returns zero (or nothing) and sets a sticky
// failure flag. A parser reads a whole record field by field and tests ok()
// once at the end, so no field can ever be read past the end of its data.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zip {

class ByteReader {
 public:
  explicit ByteReader(std::string_view data) : data_(data) {}

  bool ok() const { return ok_; }
  std::size_t Offset() const { return pos_; }
  std::size_t Left() const { return data_.size() - pos_; }

  std::uint8_t U8() { return static_cast<std::uint8_t>(Number(1)); }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Number(2)); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Number(4)); }
  std::uint64_t U64() { return Number(8); }

  std::string_view Bytes(std::size_t count) {
    if (!Take(count)) return {};
    std::string_view out = data_.substr(pos_ - count, count);
    return out;
  }
  void Skip(std::size_t count) { Take(count); }

 private:
  bool Take(std::size_t count) {
    if (!ok_ || count > Left()) {
      ok_ = false;
      return false;
    }
    pos_ += count;
    return true;
  }
  std::uint64_t Number(std::size_t width) {
    if (!Take(width)) return 0;
    std::uint64_t value = 0;
    for (std::size_t i = width; i-- > 0;) {
      value = (value << 8) | static_cast<std::uint8_t>(data_[pos_ - width + i]);
    }
    return value;
  }

  std::string_view data_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace zip

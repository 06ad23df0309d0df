#include "unit/wire_fields.h"

#include <cmath>
#include <limits>

namespace unit {

int TruncToInt(double x) {
  if (std::isnan(x)) return 0;
  constexpr double lo = std::numeric_limits<int>::min();
  constexpr double hi = std::numeric_limits<int>::max();
  if (x <= lo) return std::numeric_limits<int>::min();
  if (x >= hi) return std::numeric_limits<int>::max();
  return static_cast<int>(x);
}

namespace {

// Truncates toward zero and holds the result within [0, top].
int Saturate(double x, int top) {
  if (!(x > 0)) return 0;  // also NaN
  if (x >= top) return top;
  return static_cast<int>(x);
}

}  // namespace

std::uint8_t ByteField(double x) {
  return static_cast<std::uint8_t>(Saturate(x, 255));
}
std::uint16_t WordField(double x) {
  return static_cast<std::uint16_t>(Saturate(x, 65535));
}

std::uint8_t VoltByte(double volts) {
  return ByteField(std::ceil(volts / kVoltStep));
}
double VoltsShown(int count) {
  return std::floor(count * kVoltStep * 100) / 100;
}

std::uint8_t TenthsByte(double value) {
  return ByteField(value * 10);
}
std::uint16_t TenthsWord(double value) {
  return WordField(value * 10);
}
double TenthsShown(int count) {
  return count / 10.0;
}

std::uint8_t SelectionByte(int listIndex) {
  return ByteField(listIndex + 1.0);
}
std::uint8_t StartPageByte(int listIndex) {
  return ByteField(listIndex);
}

void PutByte(std::string& out, std::uint8_t b) {
  out.push_back(static_cast<char>(b));
}

void PutWord(std::string& out, std::uint16_t w) {
  PutByte(out, static_cast<std::uint8_t>(w >> 8));
  PutByte(out, static_cast<std::uint8_t>(w & 0xFF));
}

namespace {

// Next code point of UTF-8 text, or -1 for a malformed sequence (one byte is
// consumed then, so decoding always moves on).
long NextCodePoint(std::string_view s, std::size_t& i) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char lead = byte(i++);
  if (lead < 0x80) return lead;
  int extra = (lead & 0xE0) == 0xC0   ? 1
              : (lead & 0xF0) == 0xE0 ? 2
              : (lead & 0xF8) == 0xF0 ? 3
                                      : -1;
  if (extra < 0 || i + extra > s.size()) return -1;
  long cp = lead & (0x3F >> extra);
  for (int k = 0; k < extra; ++k) {
    unsigned char cont = byte(i + k);
    if ((cont & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (cont & 0x3F);
  }
  i += extra;
  return cp;
}

}  // namespace

std::string NameBytes(std::string_view utf8) {
  std::string out;
  std::size_t i = 0;
  while (out.size() < kNameBytes && i < utf8.size()) {
    long cp = NextCodePoint(utf8, i);
    out.push_back(cp >= 0 && cp <= 0xFF ? static_cast<char>(cp) : '?');
  }
  out.resize(kNameBytes, ' ');
  return out;
}

std::string NameText(std::string_view bytes) {
  std::string out;
  for (char ch : bytes) {
    auto b = static_cast<unsigned char>(ch);
    if (b < 0x80) {
      out.push_back(ch);
    } else {
      out.push_back(static_cast<char>(0xC0 | (b >> 6)));
      out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
  return out;
}

}  // namespace unit

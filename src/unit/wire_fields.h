#pragma once
// How one value of the window travels in a request or a reply: the field
// encodings shared by every request builder and reply decoder. Every encoder
// saturates (bytes to 0..255, words to 0..65535) so an out-of-range value is
// sent as the nearest value the field can hold instead of wrapping around.
#include <cstdint>
#include <string>
#include <string_view>

namespace unit {

// One count of a volt byte: the double nearest 5/255 V.
inline constexpr double kVoltStep = 5.0 / 255.0;

// Real to Int32, truncated toward zero; saturates, NaN is 0.
int TruncToInt(double x);

// A whole-number byte or word field from a real: truncated, then saturated.
std::uint8_t ByteField(double x);
std::uint16_t WordField(double x);

// Volts as a count of kVoltStep, rounded up; read back rounded down to hundredths.
std::uint8_t VoltByte(double volts);
double VoltsShown(int count);

// Tenths: value x 10, truncated; read back as count / 10.
std::uint8_t TenthsByte(double value);
std::uint16_t TenthsWord(double value);
double TenthsShown(int count);

// A pop-up's list index as the unit counts it (index + 1); no selection is 0.
std::uint8_t SelectionByte(int listIndex);
// The start page goes out as the bare index; no selection goes out as 0.
std::uint8_t StartPageByte(int listIndex);
inline std::uint8_t FlagByte(bool checked) {
  return checked ? 1 : 0;
}

// Appends one byte, or a word high byte first.
void PutByte(std::string& out, std::uint8_t b);
void PutWord(std::string& out, std::uint16_t w);

// A sensor name as exactly three bytes: one byte per character of the UTF-8
// text (Latin-1 characters as their own byte, anything else and broken UTF-8 as
// "?"), cut after three characters, padded with blanks.
inline constexpr std::size_t kNameBytes = 3;
std::string NameBytes(std::string_view utf8);
// Three name bytes back to UTF-8 text, byte for byte (each byte as the Latin-1
// character of that code), trailing blanks kept; the inverse of NameBytes.
std::string NameText(std::string_view bytes);

}  // namespace unit

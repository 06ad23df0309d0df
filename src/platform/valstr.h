#pragma once
// Number <-> text the way the window's controls treat numbers: independent of
// the user's locale, so a layout typed in Germany reads the same as anywhere.
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The leading decimal number of the text (optional blanks, sign, digits,
// fraction, exponent); 0 when the text does not begin with one.
double Val(std::string_view text);

// An integer as plain digits.
std::string Str(std::int64_t value);
inline std::string Str(int value) {
  return Str(static_cast<std::int64_t>(value));
}

// A real as short decimal text: 0.45, 2.5, 5, 14.7 (at most seven significant
// digits, no trailing zeros, no exponent for everyday magnitudes).
std::string Str(double value);

}  // namespace platform

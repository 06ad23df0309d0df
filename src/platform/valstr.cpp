#include "platform/valstr.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace platform {

namespace {

// Whether a number that has no double is too large for one rather than too
// small: the power of ten of its first significant digit plus its exponent.
// Out of range lies beyond 10^308 or below 10^-307, so the sign of that sum
// tells the two apart.
bool TooLarge(std::string_view number) {
  std::size_t i = 0;
  if (i < number.size() && number[i] == '-') ++i;
  long position = 0;
  bool significant = false;
  bool fraction = false;
  for (; i < number.size() && number[i] != 'e' && number[i] != 'E'; ++i) {
    if (number[i] == '.') {
      fraction = true;
    } else if (!significant && number[i] == '0') {
      if (fraction) --position;
    } else {
      significant = true;
      if (!fraction) ++position;
    }
  }
  long exponent = 0;
  bool negative = false;
  if (i < number.size()) {
    ++i;
    if (i < number.size() && (number[i] == '+' || number[i] == '-')) negative = number[i++] == '-';
    for (; i < number.size() && exponent < 1000000; ++i)
      exponent = exponent * 10 + (number[i] - '0');
  }
  return position + (negative ? -exponent : exponent) > 0;
}

}  // namespace

double Val(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  std::size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  // An exponent counts only when digits follow it.
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    std::size_t expDigits = j;
    while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
    if (j > expDigits) i = j;
  }
  std::string_view number = text.substr(start, i - start);
  if (!number.empty() && number.front() == '+') number.remove_prefix(1);
  double value = 0.0;
  auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // A number too small for a double is as good as 0, not infinite.
    if (!TooLarge(number)) return 0.0;
    return number.front() == '-' ? -HUGE_VAL : HUGE_VAL;
  }
  if (ec != std::errc()) return 0.0;
  (void)ptr;
  return value;
}

std::string Str(std::int64_t value) {
  return std::to_string(value);
}

std::string Str(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0.0) return "0";  // also folds -0 into 0
  char buf[64];
  // Seven significant digits, then strip what %g would keep.
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 7);
  if (ec != std::errc()) return "0";
  std::string out(buf, end);
  return out;
}

}  // namespace platform

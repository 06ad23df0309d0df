#include "unit/conversions.h"

#include <cmath>

#include "platform/valstr.h"
#include "unit/wire_fields.h"

namespace Spec {

int PSITomBar(double psi) {
  return unit::TruncToInt(((psi + 14.7) / 14.7) * 1013);
}

double mBarToPSI(int mbar) {
  // Gauge pressure for every value: a sub-atmospheric limit must stay a small
  // negative PSI figure, never be handed back as raw mbar.
  return std::round(((mbar / 1013.0) * 14.7 - 14.7) * 10) / 10;
}

int FtoC(int f, bool celsius) {
  if (!celsius) return f;
  return unit::TruncToInt((static_cast<double>(f) - 32) * 0.5555555555555556);
}

int CtoF(int c, bool celsius) {
  if (!celsius) return c;
  return unit::TruncToInt(std::ceil(c * 1.8) + 32);
}

std::string Dec2Hex(int n) {
  std::string out;
  unit::PutWord(out, unit::WordField(n));
  return out;
}

namespace {

int HexDigit(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return 0;
}

}  // namespace

double Hex2Dec(std::string_view s) {
  if (s.size() == 2) return 16 * HexDigit(s[0]) + HexDigit(s[1]);
  if (s.size() == 4) return 256 * Hex2Dec(s.substr(0, 2)) + Hex2Dec(s.substr(2, 2));
  return 0;
}

std::string HexDataToString(std::string_view s) {
  std::string out;
  out.reserve(s.size() / 2);
  for (std::size_t k = 0; k + 1 < s.size(); k += 2) {
    out.push_back(static_cast<char>(static_cast<int>(Hex2Dec(s.substr(k, 2)))));
  }
  return out;
}

bool SavePrefs() {
  return true;
}

}  // namespace Spec

#pragma once
// Small helpers shared by the unit tests.
#include <initializer_list>
#include <string>

#include "platform/valstr.h"

namespace unittest {

// A byte string from numbers, so requests read like the unit's byte tables.
inline std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

// What a control does to a number: shows it as text, and Val reads it back.
inline double ThroughControl(double shown) {
  return platform::Val(platform::Str(shown));
}

}  // namespace unittest

#pragma once
// How long a test waits for what it awaits before it gives up. Only a guard
// against a hang: a loaded machine may be many times slower than a quiet one,
// so no test counts on anything happening sooner; a test program's CTest
// time-out leaves room for several such waits.
#include <chrono>

namespace unitsim {

inline constexpr std::chrono::milliseconds kHangGuard{30000};
inline constexpr int kHangGuardMs = static_cast<int>(kHangGuard.count());

}  // namespace unitsim

#include "platform/ticks.h"

#include <chrono>

namespace platform {
namespace {
const auto kStart = std::chrono::steady_clock::now();
SteadyTicks steadyTicks;
TickSource* current = &steadyTicks;
}  // namespace

std::int64_t SteadyTicks::Now() const {
  auto elapsed = std::chrono::steady_clock::now() - kStart;
  return std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() * 60 / 1000000;
}

std::int64_t Ticks() {
  return current->Now();
}

void SetTickSource(TickSource* source) {
  current = source ? source : &steadyTicks;
}

}  // namespace platform

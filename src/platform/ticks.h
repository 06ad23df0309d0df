#pragma once
// Time in ticks of 1/60 s. Everything that waits or times out asks Ticks(),
// so tests can put a manual clock in place and drive time without sleeping.
#include <cstdint>

namespace platform {

class TickSource {
 public:
  virtual ~TickSource() = default;
  virtual std::int64_t Now() const = 0;
};

// Ticks from the steady clock since the program started.
class SteadyTicks final : public TickSource {
 public:
  std::int64_t Now() const override;
};

// A clock that moves only when told; for tests.
class ManualTicks final : public TickSource {
 public:
  std::int64_t Now() const override { return now_; }
  void Advance(std::int64_t ticks) { now_ += ticks; }
  void Set(std::int64_t ticks) { now_ = ticks; }

 private:
  std::int64_t now_ = 0;
};

std::int64_t Ticks();

// Installs a clock (nullptr restores the steady clock). The caller keeps it alive.
void SetTickSource(TickSource* source);

// Milliseconds that `ticks` ticks last, rounded up; for arming timers.
constexpr int TicksToMs(std::int64_t ticks) {
  return static_cast<int>((ticks * 1000 + 59) / 60);
}

}  // namespace platform

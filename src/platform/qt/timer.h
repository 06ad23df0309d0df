#pragma once
// The framework's timer control: Action every Period milliseconds while its
// Mode is ModeMultiple, once for ModeSingle, never for ModeOff.
#include <QTimer>
#include <string>

#include "platform/qt/event.h"

namespace platform {

class Timer {
 public:
  enum Mode { ModeOff = 0, ModeSingle = 1, ModeMultiple = 2 };

  explicit Timer(std::string name);
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  const std::string& Name() const { return name_; }
  int Period() const { return period_; }
  void SetPeriod(int milliseconds);
  Mode GetMode() const { return mode_; }
  void SetMode(Mode mode);
  bool Running() const { return timer_.isActive(); }

  Event<> Action;

 private:
  void Apply();

  std::string name_;
  QTimer timer_;
  int period_ = 1000;
  Mode mode_ = ModeOff;
};

}  // namespace platform

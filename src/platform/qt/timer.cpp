#include "platform/qt/timer.h"

namespace platform {

Timer::Timer(std::string name) : name_(std::move(name)) {
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
    if (mode_ == ModeSingle) mode_ = ModeOff;
    Action();
  });
}

void Timer::SetPeriod(int milliseconds) {
  period_ = milliseconds < 0 ? 0 : milliseconds;
  Apply();
}

void Timer::SetMode(Mode mode) {
  mode_ = mode;
  Apply();
}

void Timer::Apply() {
  if (mode_ == ModeOff) {
    timer_.stop();
    return;
  }
  timer_.setSingleShot(mode_ == ModeSingle);
  timer_.start(period_);
}

}  // namespace platform

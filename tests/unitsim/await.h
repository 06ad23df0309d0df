#pragma once
// Runs the Qt event loop until a condition holds, waking on every event (a
// port's data, a timer) rather than on a fixed sleep. False on time-out.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <functional>

#include "unitsim/hang_guard.h"

namespace unitsim {

inline bool Await(const std::function<bool()>& condition, int timeoutMs = kHangGuardMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  }
  return true;
}

}  // namespace unitsim

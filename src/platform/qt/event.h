#pragma once
// A control's event: at most one handler, bound once when the window is built,
// the way the framework ties each control's events to the window's methods
// named <control>_<event>. Raising an unbound event does nothing.
#include <functional>
#include <utility>

namespace platform {

template <class... Args>
class Event {
 public:
  using Handler = std::function<void(Args...)>;

  void Bind(Handler handler) { handler_ = std::move(handler); }

  // Binds a method of the owning window: `Change.Bind(this, &LCDProg::maps_Change)`.
  template <class Owner>
  void Bind(Owner* owner, void (Owner::*method)(Args...)) {
    handler_ = [owner, method](Args... args) { (owner->*method)(args...); };
  }

  void Unbind() { handler_ = nullptr; }
  bool IsBound() const { return static_cast<bool>(handler_); }

  // Raises the event.
  void operator()(Args... args) const {
    if (handler_) handler_(args...);
  }

 private:
  Handler handler_;
};

}  // namespace platform

#pragma once
// The main window on real widgets (offscreen), its link talking to the
// simulated unit over a real pty, time in the test's hands and the window's
// messages caught instead of shown.
#include <gtest/gtest.h>

#include <QPushButton>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "link/module_globals.h"
#include "mainwindow/lcdprog.h"
#include "platform/qt/msgbox.h"
#include "platform/qt/serial_ports.h"
#include "platform/ticks.h"
#include "unitsim/await.h"
#include "unitsim/unit_sim.h"

class WindowFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(unit.Ok()) << unit.Error();
    platform::SetTickSource(&clock);
    platform::SetPublishedPortDir("/nonexistent/vantora-ports");
    platform::ClearExtraSerialPorts();
    platform::AddExtraSerialPort("ttySim", unit.PortPath());
    Spec::DataPort = "ttySim";
    Spec::Revision = 0;
    previousSink_ =
        platform::SetMsgBoxSink([this](const std::string& text) { messages.push_back(text); });
    w = std::make_unique<LCDProg>();
    QObject::connect(&w->Sline, &SuperSerial::PacketSucceeded, [this](PacketRef p) {
      if (p) answered.push_back(p->Final);
    });
  }

  void TearDown() override {
    w.reset();
    platform::SetMsgBoxSink(previousSink_);
    platform::ClearExtraSerialPorts();
    platform::SetTickSource(nullptr);
    Spec::DataPort.clear();
  }

  // A user's click: through the widget, so the control layer raises Action.
  static void Click(platform::PushButton& button) {
    static_cast<QPushButton*>(button.Widget())->click();
  }

  bool LinkIdle() const { return w->Sline.IsIdle(); }

  // Presses Connect, lets the port's opening wait pass, and waits until the
  // unit has been greeted and everything that followed has been answered.
  void ConnectAndSettle() {
    Click(w->ConButton);
    clock.Advance(21);
    ASSERT_TRUE(unitsim::Await([&] { return w->Sline.isConnected && LinkIdle(); }))
        << "caption " << w->ConButton.Caption();
    ForgetTraffic();
  }

  // Runs the event loop (so the pump keeps going) until the unit has taken
  // at least n requests.
  bool AwaitRequests(std::size_t n) {
    return unitsim::Await([&] { return unit.RequestCount() >= n; });
  }

  void ForgetTraffic() {
    unit.ClearRequests();
    answered.clear();
  }

  // The requests answered, from the first one equal to `from` on.
  std::vector<std::string> AnsweredFrom(const std::string& from) const {
    const auto first = std::find(answered.begin(), answered.end(), from);
    return {first, answered.end()};
  }

  platform::ManualTicks clock;
  unitsim::UnitSim unit;
  std::unique_ptr<LCDProg> w;
  std::vector<std::string> messages;
  // Every request whose reply the window's link accepted, in order: one entry
  // per request queued, however many tries it took. A slow machine may make
  // the link send a request again, so what the unit took (unit.Requests())
  // counts each try.
  std::vector<std::string> answered;

 private:
  platform::MsgBoxSink previousSink_;
};

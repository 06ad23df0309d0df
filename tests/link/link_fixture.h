#pragma once
// A link talking to the simulated unit over a real pty, with time in the
// test's hands.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/module_globals.h"
#include "link/super_serial.h"
#include "platform/qt/serial_ports.h"
#include "platform/ticks.h"
#include "unitsim/await.h"
#include "unitsim/unit_sim.h"

class LinkFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(unit.Ok()) << unit.Error();
    platform::SetTickSource(&clock);
    platform::SetPublishedPortDir("/nonexistent/vantora-ports");
    platform::UseSystemSerialPorts(false);
    platform::ClearExtraSerialPorts();
    platform::AddExtraSerialPort("ttySim", unit.PortPath());
    Spec::DataPort = "ttySim";
    Spec::Revision = 0;
    link.SetBaud(921600);
    QObject::connect(&link, &SuperSerial::Connecting, [this] { events.push_back("Connecting"); });
    QObject::connect(&link, &SuperSerial::Connected, [this] { events.push_back("Connected"); });
    QObject::connect(&link, &SuperSerial::Disconnected,
                     [this] { events.push_back("Disconnected"); });
    QObject::connect(&link, &SuperSerial::PacketSucceeded,
                     [this](PacketRef p) { succeeded.push_back(p); });
    QObject::connect(&link, &SuperSerial::QueueDropped,
                     [this](PacketRef p) { dropped.push_back(p); });
  }

  void TearDown() override {
    link.Disconnect();
    platform::ClearExtraSerialPorts();
    platform::UseSystemSerialPorts(true);
    platform::SetTickSource(nullptr);
    Spec::DataPort.clear();
  }

  // Opens the port the way the window does: Connect, then its wait.
  void Open() {
    link.Connect();
    ASSERT_TRUE(link.IsWaitingToOpen());
    clock.Advance(21);
    ASSERT_TRUE(unitsim::Await([&] { return link.Opened; }));
  }

  // Opens and greets the unit.
  void OpenAndGreet() {
    Open();
    link.AddPacket(PacketTypeHello, "VV");
    SendAndAwaitReply();
    ASSERT_TRUE(link.isConnected);
    succeeded.clear();
    events.clear();
    unit.ClearRequests();
  }

  // Sends the head of the queue and waits until the link has settled it.
  void SendAndAwaitReply() {
    const std::size_t before = succeeded.size();
    link.SendNext();
    ASSERT_TRUE(link.CurrentPacket != nullptr);
    ASSERT_TRUE(unitsim::Await([&] { return succeeded.size() > before; }));
  }

  // Sends the head, waits until the unit took it and the link has read the
  // `replyBytes` bytes the unit sends at once, then lets `ticks` pass and
  // polls. However slowly the machine runs, time moves on only once the
  // reply's bytes are in.
  void SendAndLetTimePass(std::int64_t ticks, std::size_t replyBytes = 0) {
    const std::size_t seen = unit.RequestCount();
    link.SendNext();
    ASSERT_TRUE(unit.WaitForRequests(seen + 1));
    AwaitReplyBytes(replyBytes);
    link.Poll();
    clock.Advance(ticks);
    link.Poll();
  }

  void AwaitReplyBytes(std::size_t n) {
    ASSERT_TRUE(unitsim::Await([&] { return link.ReplyBytesReceived() >= n; }))
        << link.ReplyBytesReceived() << " of " << n << " bytes";
  }

  platform::ManualTicks clock;
  unitsim::UnitSim unit;
  SuperSerial link;
  std::vector<std::string> events;
  std::vector<PacketRef> succeeded;
  std::vector<PacketRef> dropped;
};

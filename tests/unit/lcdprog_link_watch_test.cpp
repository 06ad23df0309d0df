// Timer2: the watchdog probe after a port vanished, and the layout preview.
#include "link/bg_thread.h"
#include "window_fixture.h"

namespace {

class LinkWatchTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    watch = std::make_unique<BGThread>(w->Sline);
    w->AttachPortWatch(watch.get());
  }
  void TearDown() override {
    w->AttachPortWatch(nullptr);
    watch.reset();
    WindowFixture::TearDown();
  }

  // An adapter that was there when the watch last counted goes away.
  void PortVanishes() {
    platform::AddExtraSerialPort("ttyGhost", "/dev/null");
    watch->CurPorts = platform::SerialPortCount();
    platform::RemoveExtraSerialPort("ttyGhost");
  }

  // What one tick of Timer2 queues, taken off the queue before the pump sees it.
  std::vector<std::string> OneTick() {
    const int before = w->Sline.PacketCount();
    w->Timer2_Action();
    std::vector<std::string> queued;
    for (int i = before + 1; i <= w->Sline.PacketCount(); ++i)
      queued.push_back(w->Sline.Packets[static_cast<std::size_t>(i)]->Final);
    w->Sline.Packets.resize(static_cast<std::size_t>(before) + 1);
    return queued;
  }

  std::unique_ptr<BGThread> watch;
};

TEST_F(LinkWatchTest, ProbeWritesTheLoggingSpeedWhenAPortVanishedOnAnIdleLink) {
  ConnectAndSettle();
  w->DLSlider.SetValue(5);
  PortVanishes();
  // Timer2 on its own sends the probe to the unit, and again while idle.
  ASSERT_TRUE(AwaitRequests(2));
  EXPECT_EQ(unit.Requests()[0], std::string("wd\x05"));
  EXPECT_EQ(unit.Requests()[1], std::string("wd\x05"));
  EXPECT_EQ(unit.Settings().Dimmer, 5);
}

TEST_F(LinkWatchTest, NoProbeUnlessEveryConditionHolds) {
  const std::string probe = std::string("wd") + '\x01';
  EXPECT_TRUE(OneTick().empty()) << "disconnected";
  ConnectAndSettle();
  w->DLSlider.SetValue(1);
  EXPECT_TRUE(OneTick().empty()) << "no port vanished";
  platform::AddExtraSerialPort("ttyAdded", "/dev/null");
  EXPECT_TRUE(OneTick().empty()) << "a port was added, none removed";
  platform::RemoveExtraSerialPort("ttyAdded");

  PortVanishes();
  EXPECT_EQ(OneTick(), std::vector<std::string>{probe});

  w->Sline.AddPacket(PacketTypeOK, "<<");
  EXPECT_TRUE(OneTick().empty()) << "a request is queued";
  w->Sline.Packets.resize(1);
  w->Sline.CurrentPacket = std::make_shared<Packet>();
  EXPECT_TRUE(OneTick().empty()) << "a request awaits its reply";
  w->Sline.CurrentPacket.reset();

  w->Sline.PMode = true;
  EXPECT_TRUE(OneTick().empty()) << "bootloader";
  w->Sline.PMode = false;
  EXPECT_EQ(OneTick(), std::vector<std::string>{probe});
}

TEST_F(LinkWatchTest, PreviewOnlyWhileCheckedAndConnected) {
  w->Preview.SetValue(true);
  EXPECT_TRUE(OneTick().empty()) << "disconnected";
  ConnectAndSettle();
  w->DLSlider.SetValue(1);
  EXPECT_EQ(OneTick(), std::vector<std::string>{"00"});
  // The preview does not wait for its earlier requests.
  w->Sline.AddPacket(PacketTypeOK, "00");
  EXPECT_EQ(OneTick(), std::vector<std::string>{"00"});
  w->Sline.Packets.resize(1);
  // Probe first, preview second, in the same tick.
  PortVanishes();
  EXPECT_EQ(OneTick(), (std::vector<std::string>{std::string("wd\x01"), "00"}));
  watch->CurPorts = platform::SerialPortCount();

  // And on its own clock, to the unit.
  ASSERT_TRUE(AwaitRequests(2));
  EXPECT_EQ(unit.Requests()[0], "00");
  EXPECT_EQ(unit.Requests()[1], "00");

  w->Preview.SetValue(false);
  EXPECT_TRUE(OneTick().empty());
  w->Sline.PMode = true;
  w->Preview.SetValue(true);
  EXPECT_TRUE(OneTick().empty()) << "the bootloader would take it as a command";
  w->Sline.PMode = false;
}

}  // namespace

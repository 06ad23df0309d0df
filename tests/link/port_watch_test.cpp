// The background port watch and the automatic detection, with the
// simulated unit listed among ports that do not answer it.
#include "link/bg_thread.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>

#include "link/link_fixture.h"

using unitsim::Fault;
using unitsim::FaultKind;

namespace {
// A pty whose far end nobody answers: what a modem or another gadget looks
// like to the hello.
class SilentPort {
 public:
  SilentPort() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
      char name[128];
      if (ptsname_r(master_, name, sizeof name) == 0) path_ = name;
    }
  }
  ~SilentPort() {
    if (master_ >= 0) close(master_);
  }
  const std::string& Path() const { return path_; }
  // What was sent to it so far.
  std::string Received() {
    std::string got;
    pollfd p{master_, POLLIN, 0};
    char buf[256];
    while (poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }

 private:
  int master_ = -1;
  std::string path_;
};
}  // namespace

class PortWatchTest : public LinkFixture {
 protected:
  void SetUp() override {
    LinkFixture::SetUp();
    ASSERT_FALSE(silent.Path().empty());
    platform::ClearExtraSerialPorts();
    Spec::DataPort.clear();
    Spec::Quitting = false;
    watch.ListPorts = [this] { ++listed; };
  }
  void TearDown() override {
    Spec::Quitting = false;
    LinkFixture::TearDown();
  }

  // Lets time run (the probes' time-outs) until the condition holds. Time
  // stands still while the unit's own port is probed, so its probe cannot
  // time out however slowly the machine runs.
  bool AwaitWithTime(const std::function<bool()>& condition) {
    auto step = [&] {
      if (watch.Detector().Probing().rfind("ttyUnit", 0) != 0) clock.Advance(3);
      return condition();
    };
    return unitsim::Await(step);
  }

  void AwaitDetectedAndOpen() {
    ASSERT_TRUE(AwaitWithTime([&] { return Spec::Detected; }));
    clock.Advance(21);  // the link's wait before it opens
    ASSERT_TRUE(unitsim::Await([&] { return link.Opened; }));
  }

  SilentPort silent;
  BGThread watch{link};
  int listed = 0;
};

TEST_F(PortWatchTest, FindsTheUnitAmongOtherPortsAndConnects) {
  unitsim::UnitSim stranger;  // answers, but not with a hello
  for (int i = 0; i < 6; ++i) stranger.QueueFault({FaultKind::WrongLetter});
  platform::AddExtraSerialPort("ttyQuiet", silent.Path());
  platform::AddExtraSerialPort("ttyGone", "/dev/pts/no-such-pty");  // the count changes
  platform::AddExtraSerialPort("ttyOther", stranger.PortPath());
  platform::AddExtraSerialPort("ttyUnit", unit.PortPath());

  watch.Watch();
  EXPECT_EQ(listed, 1);
  EXPECT_EQ(watch.CurPorts, platform::SerialPortCount());
  EXPECT_TRUE(Spec::Detecting);
  AwaitDetectedAndOpen();
  EXPECT_EQ(Spec::DataPort, "ttyUnit");
  EXPECT_TRUE(Spec::Detected);
  EXPECT_FALSE(Spec::Detecting);
  EXPECT_EQ(listed, 2);  // refreshed again to show the unit's port
  EXPECT_EQ(events, (std::vector<std::string>{"Connecting"}));
  EXPECT_EQ(silent.Received(), "VV");
  ASSERT_TRUE(stranger.WaitForRequests(1));
  EXPECT_EQ(stranger.Requests(), (std::vector<std::string>{"VV"}));
  EXPECT_EQ(unit.Requests(), (std::vector<std::string>{"VV"}));
  // The probe has let go of the port: the link greets the unit normally.
  link.AddPacket(PacketTypeHello, "VV");
  SendAndAwaitReply();
  EXPECT_TRUE(link.isConnected);
}

TEST_F(PortWatchTest, LooksOnlyWhenTheLinkIsClosedAndTheCountChanged) {
  platform::AddExtraSerialPort("ttyQuiet", silent.Path());
  watch.Watch();
  ASSERT_TRUE(AwaitWithTime([&] { return !watch.Detector().Running(); }));
  EXPECT_FALSE(Spec::Detected);
  EXPECT_FALSE(link.Opened);
  EXPECT_TRUE(Spec::DataPort.empty());
  const int count = watch.CurPorts;

  watch.Watch();  // same count: nothing
  EXPECT_EQ(listed, 1);
  EXPECT_FALSE(watch.Detector().Running());

  Spec::DataPort = "ttyUnitSim";
  platform::AddExtraSerialPort("ttyUnitSim", unit.PortPath());
  Open();
  watch.Watch();  // link open: the new port is not counted
  EXPECT_EQ(watch.CurPorts, count);
  EXPECT_EQ(listed, 1);

  link.Disconnect();
  unit.ClearRequests();
  watch.Watch();
  EXPECT_EQ(watch.CurPorts, count + 1);
  EXPECT_EQ(listed, 2);
  AwaitDetectedAndOpen();
  EXPECT_EQ(Spec::DataPort, "ttyUnitSim");
}

TEST_F(PortWatchTest, AUnitInItsBootloaderIsFoundToo) {
  unit.EnterBootloader();
  platform::AddExtraSerialPort("ttyQuiet", silent.Path());
  platform::AddExtraSerialPort("ttyUnitBoot", unit.PortPath());
  watch.Watch();
  AwaitDetectedAndOpen();
  EXPECT_EQ(Spec::DataPort, "ttyUnitBoot");
}

TEST_F(PortWatchTest, AVanishedPortCountsAsAChange) {
  platform::AddExtraSerialPort("ttyUnit", unit.PortPath());
  platform::AddExtraSerialPort("ttyQuiet", silent.Path());
  watch.CurPorts = platform::SerialPortCount();
  unit.Unplug();
  platform::RemoveExtraSerialPort("ttyUnit");  // what the system reports once the cable is out
  watch.Watch();
  EXPECT_EQ(watch.CurPorts, platform::SerialPortCount());
  EXPECT_EQ(listed, 1);
  ASSERT_TRUE(AwaitWithTime([&] { return !watch.Detector().Running(); }));
  EXPECT_FALSE(link.Opened);
}

TEST_F(PortWatchTest, TimerWatchesUntilQuitting) {
  platform::AddExtraSerialPort("ttyQuiet", silent.Path());
  platform::AddExtraSerialPort("ttyUnit", unit.PortPath());
  watch.Run(5);
  EXPECT_TRUE(watch.IsRunning());
  AwaitDetectedAndOpen();
  EXPECT_EQ(listed, 2);

  // The quit begins while a detection is still waiting on the silent port:
  // the unit it then finds is left alone, so that the copy started next (an
  // update's new copy) does not find the port taken.
  link.Disconnect();
  Spec::DataPort.clear();
  platform::AddExtraSerialPort("ttyGone", "/dev/pts/no-such-pty");  // the count changes
  ASSERT_TRUE(unitsim::Await([&] { return watch.Detector().Probing() == "ttyQuiet"; }));
  Spec::Quitting = true;
  ASSERT_TRUE(AwaitWithTime([&] { return !watch.Detector().Running(); }));
  EXPECT_TRUE(Spec::Detected);
  EXPECT_EQ(Spec::DataPort, "ttyUnit");
  EXPECT_FALSE(link.IsWaitingToOpen());
  EXPECT_FALSE(link.Opened);
  EXPECT_EQ(listed, 3);  // only the watch's own look; no refresh for the found port
  ASSERT_TRUE(unitsim::Await([&] { return !watch.IsRunning(); }));
}

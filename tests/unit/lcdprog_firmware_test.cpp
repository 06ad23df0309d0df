// Update Firmware against the simulated unit's bootloader.
#include <QCheckBox>

#include "mainwindow/firmware_image.h"
#include "unit/firmware_update.h"
#include "window_fixture.h"

namespace {

std::string TestImage(std::size_t n) {
  std::string s(n, '\0');
  // Carriage returns, escapes and zeros among the bytes: the link must pass
  // them through untouched.
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 13 + 27) & 0xFF);
  return s;
}

class FirmwareTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    // Every value the progress bar takes on an acknowledgement, once the
    // reply handler has moved it.
    QObject::connect(&w->Sline, &SuperSerial::PacketSucceeded, [this](PacketRef p) {
      const int value = w->FWProg.Value();
      if (p->Type == PacketTypeCR && (progress.empty() || progress.back() != value))
        progress.push_back(value);
    });
  }

  void UseImage(std::string image) {
    image_ = std::move(image);
    w->FirmwareImage = [this] { return image_; };
  }

  // The whole update has run: the unit left its bootloader and was greeted.
  bool UpdateDone() const {
    return !w->FirmwareUnderway && !w->Sline.PMode && w->Sline.isConnected && LinkIdle();
  }

  void ExpectFlashHolds(const unitsim::UnitSim& sim, const std::string& image) {
    const std::vector<std::uint8_t> flash = sim.Flash();
    ASSERT_EQ(flash.size(), unitsim::kFlashSize);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin(), [](char a, std::uint8_t b) {
      return static_cast<std::uint8_t>(a) == b;
    })) << "flash differs from the image";
    EXPECT_TRUE(std::all_of(flash.begin() + static_cast<std::ptrdiff_t>(image.size()), flash.end(),
                            [](std::uint8_t b) { return b == 0xFF; }));
  }

  // 1, 2, ..., 2N, then 0 when "E" is acknowledged.
  static std::vector<int> FullProgress(int blocks) {
    std::vector<int> v;
    for (int i = 1; i <= 2 * blocks; ++i) v.push_back(i);
    v.push_back(0);
    return v;
  }

  std::vector<int> progress;
  std::string image_;
};

TEST_F(FirmwareTest, UpdatesTheUnitWithTheShippedImage) {
  const std::string image = VA2Firmware();
  ASSERT_FALSE(image.empty());
  ConnectAndSettle();
  w->FWProg.SetValue(37);  // left over from something else: the update starts at 0
  Click(w->FWUpdate);
  const int blocks = unit::FirmwareBlockCount(image.size());
  EXPECT_EQ(w->FWProg.Maximum(), 2 * blocks);
  EXPECT_EQ(w->FWProg.Value(), 0);
  EXPECT_TRUE(w->Upgrading);
  EXPECT_FALSE(w->LeftC.Enabled());
  EXPECT_FALSE(w->ReadBut.Enabled());
  // A firmware image of a full build is much larger than the stand-in.
  ASSERT_TRUE(unitsim::Await([&] { return UpdateDone(); }, unitsim::kHangGuardMs + 250 * blocks));

  ExpectFlashHolds(unit, image);
  EXPECT_EQ(unit.CurrentMode(), unitsim::Mode::Firmware);
  EXPECT_EQ(unit.EraseCount(), 1);
  EXPECT_EQ(progress, FullProgress(blocks));
  EXPECT_EQ(w->FWProg.Value(), 0);
  EXPECT_TRUE(w->LeftC.Enabled());
  EXPECT_TRUE(w->ReadBut.Enabled());
  EXPECT_TRUE(messages.empty());

  // The wire: escapes, "V", erase, the blocks, leave, greet, read again.
  const std::vector<std::string>& req = answered;
  ASSERT_GE(req.size(), 3u + 2u * static_cast<std::size_t>(blocks) + 2u);
  EXPECT_EQ(req[0], "\x1B\x1B");
  EXPECT_EQ(req[1], "V");
  EXPECT_EQ(req[2], "e");
  const std::vector<std::string> after = AnsweredFrom("E");
  ASSERT_GE(after.size(), 3u);
  EXPECT_EQ(after[1], "VV");
  EXPECT_EQ(after[2], "rt");
  EXPECT_EQ(Spec::Revision, unit.Revision());
}

TEST_F(FirmwareTest, UnitAlreadyInItsBootloaderStartsAtTheChipErase) {
  const std::string image = TestImage(300);
  UseImage(image);
  ConnectAndSettle();
  w->PRGBut_Action();
  ASSERT_TRUE(unitsim::Await([&] { return w->Sline.PMode && LinkIdle(); }));
  ForgetTraffic();

  Click(w->FWUpdate);
  ASSERT_TRUE(unitsim::Await([&] { return UpdateDone(); }));
  const std::vector<std::string>& req = answered;
  ASSERT_GE(req.size(), 6u);
  EXPECT_EQ(req[0], "e");
  EXPECT_EQ(req[1], std::string("A\0\0", 3));
  EXPECT_EQ(req[2], std::string("B\x01\x00", 3) + "F" + image.substr(0, 256));
  EXPECT_EQ(req[3], std::string("A\x00\x80", 3));
  EXPECT_EQ(req[4], std::string("B\x00\x2C", 3) + "F" + image.substr(256));
  EXPECT_EQ(req[5], "E");
  ExpectFlashHolds(unit, image);
  EXPECT_EQ(progress, FullProgress(2));
}

TEST_F(FirmwareTest, DoesNothingWhileDisconnectedOrAlreadyUpdating) {
  UseImage(TestImage(600));
  Click(w->FWUpdate);
  EXPECT_FALSE(w->Upgrading);
  EXPECT_EQ(w->Sline.PacketCount(), 0);
  EXPECT_TRUE(w->LeftC.Enabled());

  ConnectAndSettle();
  Click(w->FWUpdate);
  const int queued = w->Sline.PacketCount();
  Click(w->FWUpdate);
  EXPECT_EQ(w->Sline.PacketCount(), queued);
  ASSERT_TRUE(unitsim::Await([&] { return UpdateDone(); }));
  EXPECT_EQ(std::count(answered.begin(), answered.end(), "\x1B\x1B"), 1);
  EXPECT_EQ(unit.EraseCount(), 1);
  ExpectFlashHolds(unit, image_);
}

TEST_F(FirmwareTest, RefusesAnEmptyOrOversizedImageBeforeSendingAnything) {
  ConnectAndSettle();
  UseImage("");
  Click(w->FWUpdate);
  UseImage(TestImage(unit::FirmwareMaxBytes + 1));
  Click(w->FWUpdate);
  EXPECT_EQ(messages,
            (std::vector<std::string>{unit::FirmwareEmptyMessage, unit::FirmwareTooLargeMessage}));
  EXPECT_EQ(w->Sline.PacketCount(), 0);
  EXPECT_FALSE(w->Upgrading);
  EXPECT_TRUE(w->ReadBut.Enabled());
  EXPECT_EQ(unit.CurrentMode(), unitsim::Mode::Firmware);
  EXPECT_EQ(unit.EraseCount(), 0);
}

TEST_F(FirmwareTest, PreviewAndOtherRequestsDuringTheUpdateDoNotHoldItUp) {
  const std::string image = TestImage(2000);
  UseImage(image);
  ConnectAndSettle();
  w->Preview.SetValue(true);
  Click(w->FWUpdate);
  // Timer2 runs on its own too; this tick is sure to fall inside the update.
  ASSERT_TRUE(unitsim::Await([&] { return w->FWProg.Value() >= 2; }));
  w->Timer2_Action();
  // Nor do the other requests a user can set off meanwhile.
  static_cast<QCheckBox*>(w->usecelsius.Widget())->click();
  Click(w->EnterC);
  w->ReadBut_Action();
  w->WriteBut_Action();
  ASSERT_TRUE(unitsim::Await([&] { return UpdateDone(); }));
  ExpectFlashHolds(unit, image);
  EXPECT_EQ(progress, FullProgress(8));
  // Nothing but the update went to the unit between the escapes and "E".
  std::vector<std::string> req = unit.Requests();
  const auto first = std::find(req.begin(), req.end(), "\x1B\x1B");
  const auto exit = std::find(req.begin(), req.end(), "E");
  ASSERT_NE(first, req.end());
  ASSERT_NE(exit, req.end());
  EXPECT_EQ(std::count_if(first, exit,
                          [](const std::string& r) {
                            return std::string("0r=w").find(r[0]) != std::string::npos;
                          }),
            0);
  // The preview carries on once the unit is back in its firmware (the
  // greeting and the read that follow the update may still be going out).
  const std::size_t seen = unit.RequestCount();
  EXPECT_TRUE(unitsim::Await([&] {
    const std::vector<std::string> now = unit.Requests();
    return std::find(now.begin() + static_cast<std::ptrdiff_t>(seen), now.end(), "00") != now.end();
  }));
  w->Preview.SetValue(false);
}

TEST_F(FirmwareTest, ReadStillQueuedWhenTheUpdateStartsAddsNothingBehindIt) {
  const std::string image = TestImage(600);
  UseImage(image);
  ConnectAndSettle();
  // The unit holds no valid wideband choice: its "i" reply asks for a write.
  unitsim::UnitSettings u = unit.Settings();
  u.Demo = 255;
  unit.SetSettings(u);
  // The user hits Update Firmware while a read is still on its way.
  w->ReadSettings();
  Click(w->FWUpdate);
  ASSERT_TRUE(unitsim::Await([&] { return UpdateDone(); })) << "messages " << messages.size();
  ExpectFlashHolds(unit, image);
  EXPECT_TRUE(messages.empty());
  // Nothing of the read's answer reached the bootloader.
  std::vector<std::string> req = unit.Requests();
  const auto first = std::find(req.begin(), req.end(), "\x1B\x1B");
  const auto exit = std::find(req.begin(), req.end(), "E");
  ASSERT_NE(first, req.end());
  ASSERT_NE(exit, req.end());
  EXPECT_EQ(std::count_if(first, exit, [](const std::string& r) { return r[0] == 'w'; }), 0);
}

TEST_F(FirmwareTest, DroppedQueueResetsTheWindowAndARetryStartsAtTheChipErase) {
  const std::string image = TestImage(1500);
  UseImage(image);
  ConnectAndSettle();
  Click(w->FWUpdate);
  ASSERT_TRUE(unitsim::Await([&] { return w->FWProg.Value() >= 3; }));
  // The unit stops answering: every try of the next request times out.
  for (int i = 0; i < 6; ++i) unit.QueueFault({unitsim::FaultKind::NoReply, 0});
  std::size_t seen = unit.RequestCount();
  for (int tries = 0; tries < 10 && messages.empty(); ++tries) {
    ASSERT_TRUE(unitsim::Await([&] { return unit.RequestCount() > seen || !messages.empty(); }));
    seen = unit.RequestCount();
    clock.Advance(21);
  }
  ASSERT_TRUE(unitsim::Await([&] { return !messages.empty(); }));
  EXPECT_EQ(messages, std::vector<std::string>{unit::FirmwareInterruptedMessage});
  EXPECT_FALSE(w->Upgrading);
  EXPECT_FALSE(w->FirmwareUnderway);
  EXPECT_EQ(w->FWProg.Value(), 0);
  EXPECT_TRUE(w->LeftC.Enabled());
  EXPECT_TRUE(w->WriteBut.Enabled());
  EXPECT_EQ(w->Sline.PacketCount(), 0);
  ASSERT_TRUE(w->Sline.isConnected);
  ASSERT_TRUE(w->Sline.PMode);

  unit.ClearFaults();
  unit.ClearRequests();
  progress.clear();
  Click(w->FWUpdate);
  ASSERT_TRUE(unitsim::Await([&] { return UpdateDone(); }));
  EXPECT_EQ(unit.Requests().front(), "e");
  EXPECT_EQ(unit.EraseCount(), 2);
  ExpectFlashHolds(unit, image);
  EXPECT_EQ(progress, FullProgress(6));
}

TEST_F(FirmwareTest, UnplugMidUpdateThenASuccessfulRetry) {
  const std::string image = TestImage(3000);
  UseImage(image);
  ConnectAndSettle();
  Click(w->FWUpdate);
  ASSERT_TRUE(unitsim::Await([&] { return w->FWProg.Value() >= 4; }));
  unit.Unplug();
  ASSERT_TRUE(unitsim::Await([&] { return !w->Sline.Opened && !messages.empty(); }));
  EXPECT_EQ(w->ConButton.Caption(), "Connect");
  EXPECT_EQ(messages, std::vector<std::string>{unit::FirmwareInterruptedMessage});
  EXPECT_FALSE(w->Upgrading);
  EXPECT_EQ(w->FWProg.Value(), 0);
  EXPECT_TRUE(w->LeftC.Enabled());
  EXPECT_TRUE(w->ReadBut.Enabled());

  // Plugged in again, the unit still sits in its bootloader with half a
  // firmware. Sending it "E" would start that half: it stays where it is,
  // and the user is told to repeat the update.
  unitsim::UnitSim again;
  ASSERT_TRUE(again.Ok());
  again.SetFlash(unit.Flash());
  again.EnterBootloader();
  platform::AddExtraSerialPort("ttySim", again.PortPath());
  messages.clear();
  Click(w->ConButton);
  clock.Advance(21);
  ASSERT_TRUE(unitsim::Await([&] { return w->Sline.isConnected && !messages.empty(); }));
  EXPECT_EQ(messages, std::vector<std::string>{unit::FirmwareRepeatMessage});
  EXPECT_TRUE(w->Sline.PMode);
  EXPECT_TRUE(LinkIdle());
  EXPECT_EQ(again.CurrentMode(), unitsim::Mode::Bootloader);
  again.ClearRequests();

  progress.clear();
  Click(w->FWUpdate);
  ASSERT_TRUE(unitsim::Await([&] { return UpdateDone(); }));
  EXPECT_EQ(again.Requests().front(), "e");
  ExpectFlashHolds(again, image);
  EXPECT_EQ(progress, FullProgress(12));

  // With the update done, a unit found in its bootloader is sent back to its
  // firmware on connecting, as before any update broke off.
  w->Sline.Disconnect();
  again.EnterBootloader();
  answered.clear();
  Click(w->ConButton);
  clock.Advance(21);
  ASSERT_TRUE(
      unitsim::Await([&] { return w->Sline.isConnected && !w->Sline.PMode && LinkIdle(); }));
  EXPECT_EQ(again.CurrentMode(), unitsim::Mode::Firmware);
  EXPECT_EQ(std::count(answered.begin(), answered.end(), "E"), 1);
  EXPECT_EQ(messages.size(), 1u);

  // An update broken off before anything went out leaves the unit in its
  // firmware. Repeated, it goes in through the escapes, and the bootloader's
  // answer to them is the update's own way in, not a unit left behind there.
  Click(w->FWUpdate);
  Click(w->ConButton);
  ASSERT_TRUE(unitsim::Await([&] { return messages.size() == 2u; }));
  EXPECT_EQ(again.CurrentMode(), unitsim::Mode::Firmware);
  ConnectAndSettle();
  Click(w->FWUpdate);
  ASSERT_TRUE(unitsim::Await([&] { return UpdateDone(); }));
  ExpectFlashHolds(again, image);
  EXPECT_EQ(messages, (std::vector<std::string>{unit::FirmwareRepeatMessage,
                                                unit::FirmwareInterruptedMessage}));
  w->Sline.Disconnect();
}

}  // namespace

// The remote keys and the hidden bootloader buttons, against the unit.
#include "window_fixture.h"

namespace {

using KeypadTest = WindowFixture;

TEST_F(KeypadTest, EachKeySendsItsBytesOncePerPress) {
  ConnectAndSettle();
  Click(w->LeftC);
  Click(w->RightC);
  Click(w->UpC);
  Click(w->DownC);
  Click(w->EnterC);
  Click(w->EnterC);
  ASSERT_TRUE(unitsim::Await([&] { return LinkIdle(); }));
  EXPECT_EQ(answered, (std::vector<std::string>{"<<", ">>", "++", "--", "==", "=="}));
}

TEST_F(KeypadTest, KeysWhileDisconnectedSendNothing) {
  Click(w->LeftC);
  ASSERT_TRUE(unitsim::Await([&] { return w->Sline.PacketCount() == 0; }));
  EXPECT_EQ(unit.RequestCount(), 0u);
}

TEST_F(KeypadTest, BootloaderButtonsAreHiddenAndTakeTheUnitInAndOut) {
  EXPECT_FALSE(w->PRGBut.Visible());
  EXPECT_FALSE(w->ExitBut.Visible());
  ConnectAndSettle();

  w->PRGBut_Action();
  ASSERT_TRUE(unitsim::Await([&] { return w->Sline.PMode && LinkIdle(); }));
  EXPECT_EQ(unit.CurrentMode(), unitsim::Mode::Bootloader);
  EXPECT_EQ(answered, (std::vector<std::string>{"\x1B\x1B", "V"}));

  // Keys would reach the bootloader as commands: none is queued there.
  Click(w->LeftC);
  EXPECT_EQ(w->Sline.PacketCount(), 0);

  w->ExitBut_Action();
  ASSERT_TRUE(unitsim::Await([&] { return !w->Sline.PMode && w->Sline.isConnected; }));
  EXPECT_EQ(unit.CurrentMode(), unitsim::Mode::Firmware);
  const std::vector<std::string> after = AnsweredFrom("E");
  ASSERT_GE(after.size(), 2u);
  EXPECT_EQ(after[1], "VV");
  EXPECT_TRUE(w->LeftC.Enabled());
}

}  // namespace

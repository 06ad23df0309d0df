// The bottom bar following the link: captions, status texts, and the buttons
// that an update switches off.
#include <QObject>

#include "window_fixture.h"

namespace {

using ConnectionTest = WindowFixture;

TEST_F(ConnectionTest, CaptionAndStatusFollowTheLinkThroughConnectAndDisconnect) {
  EXPECT_EQ(w->ConButton.Caption(), "Connect");
  EXPECT_EQ(w->stat.Text(), "Status: Disconnected");

  std::vector<std::string> seenAtConnecting;
  QObject::connect(&w->Sline, &SuperSerial::Connecting, [&] {
    seenAtConnecting = {w->ConButton.Caption(), w->stat.Text()};
    // The hello is queued by the window's handler, which ran first.
    ASSERT_EQ(w->Sline.PacketCount(), 1);
    EXPECT_EQ(w->Sline.Packets[1]->Final, "VV");
    EXPECT_EQ(w->Sline.Packets[1]->Type, PacketTypeHello);
  });
  ConnectAndSettle();
  EXPECT_EQ(seenAtConnecting, (std::vector<std::string>{"Connecting", "Status: Connecting"}));
  EXPECT_EQ(w->ConButton.Caption(), "Disconnect");
  EXPECT_EQ(w->stat.Text(), "Status: Connected");

  Click(w->ConButton);
  EXPECT_FALSE(w->Sline.Opened);
  EXPECT_EQ(w->ConButton.Caption(), "Connect");
  EXPECT_EQ(w->stat.Text(), "Status: Disconnected");
  // Read and Program stay usable while the link is closed.
  EXPECT_TRUE(w->ReadBut.Enabled());
  EXPECT_TRUE(w->WriteBut.Enabled());
}

TEST_F(ConnectionTest, SecondPressWhileConnectingClosesThePortBeforeAnyHelloIsAnswered) {
  // The user presses again the moment the caption reads "Connecting".
  QObject::connect(&w->Sline, &SuperSerial::Connecting, [&] { Click(w->ConButton); });
  Click(w->ConButton);
  clock.Advance(21);
  ASSERT_TRUE(unitsim::Await([&] { return w->Sline.PacketCount() == 0; }));
  EXPECT_FALSE(w->Sline.Opened);
  EXPECT_FALSE(w->Sline.isConnected);
  EXPECT_EQ(w->ConButton.Caption(), "Connect");
  EXPECT_EQ(w->stat.Text(), "Status: Disconnected");
  EXPECT_EQ(unit.RequestCount(), 0u);
}

TEST_F(ConnectionTest, UnansweredHelloEndsDisconnected) {
  for (int i = 0; i < 6; ++i) unit.QueueFault({unitsim::FaultKind::NoReply, 0});
  Click(w->ConButton);
  clock.Advance(21);
  ASSERT_TRUE(unitsim::Await([&] { return w->Sline.Opened; }));
  EXPECT_EQ(w->ConButton.Caption(), "Connecting");
  // Each try is taken by the unit, left unanswered, and timed out.
  for (std::size_t tries = 1; tries <= 6; ++tries) {
    ASSERT_TRUE(AwaitRequests(tries));
    EXPECT_EQ(w->ConButton.Caption(), "Connecting");
    clock.Advance(61);
  }
  ASSERT_TRUE(unitsim::Await([&] { return !w->Sline.Opened; }));
  EXPECT_EQ(w->ConButton.Caption(), "Connect");
  EXPECT_EQ(w->stat.Text(), "Status: Disconnected");
}

TEST_F(ConnectionTest, UpdateButtonsSwitchesKeypadReadAndProgramOnly) {
  std::vector<platform::PushButton*> switched = {&w->LeftC,  &w->RightC,  &w->UpC,     &w->DownC,
                                                 &w->EnterC, &w->ReadBut, &w->WriteBut};
  w->UpdateButtons(false);
  for (auto* b : switched) EXPECT_FALSE(b->Enabled()) << b->Name();
  EXPECT_TRUE(w->ConButton.Enabled());
  EXPECT_TRUE(w->FWUpdate.Enabled());
  EXPECT_TRUE(w->port.Enabled());
  w->UpdateButtons(true);
  for (auto* b : switched) EXPECT_TRUE(b->Enabled()) << b->Name();
}

TEST_F(ConnectionTest, ReadButtonReadsEverySettingFromTheUnit) {
  ConnectAndSettle();
  Click(w->ReadBut);
  ASSERT_TRUE(unitsim::Await([&] { return LinkIdle(); }));
  EXPECT_EQ(answered, (std::vector<std::string>{"rt", "rd", "rm", "rp", "rc", "rw", "ri", "rh",
                                                "re", "ra", "rs", "ru", "rz"}));
}

TEST_F(ConnectionTest, ReconnectRightAfterClosingDuringAReadGreetsTheUnit) {
  ConnectAndSettle();
  unit.QueueFault({unitsim::FaultKind::NoReply, 0});
  w->ReadSettings();
  ASSERT_TRUE(AwaitRequests(1));  // "rt" is out and will never be answered
  Click(w->ConButton);            // Disconnect
  ASSERT_FALSE(w->Sline.Opened);
  Click(w->ConButton);  // and straight back
  clock.Advance(21);
  ASSERT_TRUE(unitsim::Await([&] { return w->Sline.Opened; }));
  // What the closed connection left unanswered and unsent must not take the
  // new connection's hello down with it.
  clock.Advance(61);
  ASSERT_TRUE(unitsim::Await([&] { return w->Sline.isConnected; }))
      << "caption " << w->ConButton.Caption();
  EXPECT_EQ(w->ConButton.Caption(), "Disconnect");
}

}  // namespace

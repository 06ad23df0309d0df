// The port pop-up: "None", the system's ports, and the remembered port.
#include "link/bg_thread.h"
#include "window_fixture.h"

namespace {

using PortListTest = WindowFixture;

std::vector<std::string> Rows(const platform::PopupMenu& menu) {
  std::vector<std::string> rows;
  for (int i = 0; i < menu.ListCount(); ++i) rows.push_back(menu.List(i));
  return rows;
}

std::vector<std::string> SystemRows() {
  std::vector<std::string> rows{"None"};
  for (const auto& e : platform::SerialPorts()) rows.push_back(e.Name);
  return rows;
}

TEST_F(PortListTest, RemembersThePortChosenBeforeTheWindowOpened) {
  EXPECT_EQ(Rows(w->port), SystemRows());
  EXPECT_EQ(w->port.Text(), "ttySim");
  EXPECT_EQ(Spec::DataPort, "ttySim");
}

TEST_F(PortListTest, NothingRememberedSelectsNothing) {
  Spec::DataPort.clear();
  w->ListPorts();
  EXPECT_EQ(Rows(w->port), SystemRows());
  EXPECT_EQ(w->port.ListIndex(), -1);
  EXPECT_EQ(Spec::DataPort, "");
}

TEST_F(PortListTest, NoneIsAChoiceThatOpensNothing) {
  Spec::DataPort = "None";
  w->ListPorts();
  EXPECT_EQ(w->port.ListIndex(), 0);
  w->port.SetListIndex(1);
  w->port.SetListIndex(0);
  EXPECT_EQ(Spec::DataPort, "None");
  Click(w->ConButton);
  EXPECT_FALSE(w->Sline.IsWaitingToOpen());
  EXPECT_FALSE(w->Sline.Opened);
  EXPECT_EQ(w->ConButton.Caption(), "Connect");
}

TEST_F(PortListTest, AVanishedPortStaysListedAndSelectedUntilItReturns) {
  platform::RemoveExtraSerialPort("ttySim");
  w->ListPorts();
  std::vector<std::string> expected = SystemRows();
  expected.push_back("ttySim");
  EXPECT_EQ(Rows(w->port), expected);
  EXPECT_EQ(w->port.ListIndex(), w->port.ListCount() - 1);
  EXPECT_EQ(Spec::DataPort, "ttySim");

  // The port comes back: its real row is chosen and the extra row is gone.
  platform::AddExtraSerialPort("ttySim", unit.PortPath());
  w->ListPorts();
  EXPECT_EQ(Rows(w->port), SystemRows());
  EXPECT_EQ(w->port.Text(), "ttySim");
}

TEST_F(PortListTest, ThePortWatchRefreshesTheListThroughTheWindow) {
  BGThread watch(w->Sline);
  w->AttachPortWatch(&watch);
  ASSERT_TRUE(watch.ListPorts);
  platform::AddExtraSerialPort("ttyNew", "/dev/null");
  watch.ListPorts();
  EXPECT_EQ(Rows(w->port), SystemRows());
  EXPECT_EQ(Rows(w->port).back(), "ttyNew");
  EXPECT_EQ(w->port.Text(), "ttySim");
  w->AttachPortWatch(nullptr);
}

}  // namespace

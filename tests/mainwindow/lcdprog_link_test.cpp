// The window's link and its pump, and how the window closes.
#include <gtest/gtest.h>
#include <QTest>

#include "link/module_globals.h"
#include "mainwindow/lcdprog.h"
#include "unitsim/hang_guard.h"

TEST(LCDProgLinkTest, OpenSetsTheRateAndTimer1PumpsTheQueue) {
  LCDProg w;
  EXPECT_EQ(w.Sline.Baud(), 921600);
  EXPECT_FALSE(w.Sline.Opened);
  // A queue whose head is not a hello is dropped by the pump while the link is
  // down: its draining shows that Timer1 drives SendNext.
  w.Sline.AddPacket(PacketTypeCR, "x");
  ASSERT_EQ(w.Sline.PacketCount(), 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.Sline.PacketCount() == 0; }, unitsim::kHangGuardMs));
}

TEST(LCDProgLinkTest, ClosingTheWindowQuitsAndEndsThePortWatch) {
  Spec::Quitting = false;
  {
    LCDProg w;
    EXPECT_FALSE(w.CancelClose(false));
    EXPECT_FALSE(Spec::Quitting);
    EXPECT_FALSE(w.CancelClose(true));
    EXPECT_TRUE(Spec::Quitting);
  }
  Spec::Quitting = false;
  LCDProg w;
  w.show();
  EXPECT_TRUE(w.close());
  EXPECT_TRUE(Spec::Quitting);
  Spec::Quitting = false;
}

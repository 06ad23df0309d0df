#include "platform/ticks.h"

#include <gtest/gtest.h>

TEST(TicksTest, ManualClockMovesOnlyWhenTold) {
  platform::ManualTicks clock;
  platform::SetTickSource(&clock);
  EXPECT_EQ(platform::Ticks(), 0);
  clock.Advance(20);
  EXPECT_EQ(platform::Ticks(), 20);
  clock.Set(1000);
  EXPECT_EQ(platform::Ticks(), 1000);
  platform::SetTickSource(nullptr);
}

TEST(TicksTest, SteadyClockNeverGoesBack) {
  auto a = platform::Ticks();
  auto b = platform::Ticks();
  EXPECT_GE(b, a);
  EXPECT_GE(a, 0);
}

TEST(TicksTest, MillisecondsForTicksRoundUp) {
  EXPECT_EQ(platform::TicksToMs(0), 0);
  EXPECT_EQ(platform::TicksToMs(1), 17);
  EXPECT_EQ(platform::TicksToMs(60), 1000);
  EXPECT_EQ(platform::TicksToMs(20), 334);
}

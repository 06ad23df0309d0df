#include "unit/conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/valstr.h"

using namespace Spec;

TEST(PressureTest, GaugePsiToAbsoluteMbar) {
  EXPECT_EQ(PSITomBar(0), 1013);
  EXPECT_EQ(PSITomBar(14.7), 2026);
  EXPECT_EQ(PSITomBar(-14.7), 0);
  EXPECT_EQ(PSITomBar(10), 1702);
  // A text full of nines must not overflow the integer.
  EXPECT_EQ(PSITomBar(1e300), std::numeric_limits<int>::max());
  EXPECT_EQ(PSITomBar(-1e300), std::numeric_limits<int>::min());
  EXPECT_EQ(PSITomBar(std::nan("")), 0);
}

TEST(PressureTest, AbsoluteMbarToGaugePsi) {
  EXPECT_DOUBLE_EQ(mBarToPSI(1013), 0.0);
  EXPECT_DOUBLE_EQ(mBarToPSI(1014), 0.0);
  EXPECT_DOUBLE_EQ(mBarToPSI(1020), 0.1);
  EXPECT_DOUBLE_EQ(mBarToPSI(2026), 14.7);
  EXPECT_DOUBLE_EQ(mBarToPSI(3000), 28.8);
  EXPECT_DOUBLE_EQ(mBarToPSI(2037), 14.9);
}

TEST(PressureTest, BelowOneAtmosphereIsNegativeGaugePressureNotRawMbar) {
  EXPECT_DOUBLE_EQ(mBarToPSI(0), -14.7);
  EXPECT_EQ(platform::Str(mBarToPSI(1012)), "0");
  EXPECT_DOUBLE_EQ(mBarToPSI(500), -7.4);
  for (int mbar = 0; mbar <= 1012; ++mbar) EXPECT_LE(mBarToPSI(mbar), 0.0) << mbar;
}

TEST(PressureTest, ShownPsiWritesBackWithinAFewMbar) {
  // PSI keeps one decimal, so a limit read in PSI and written back moves by at
  // most the width of a tenth of a PSI (about 7 mbar), never more.
  for (int mbar = 1013; mbar <= 65535; ++mbar) {
    int back = PSITomBar(platform::Val(platform::Str(mBarToPSI(mbar))));
    ASSERT_LE(std::abs(back - mbar), 7) << mbar;
  }
}

TEST(TemperatureTest, CelsiusBothWays) {
  EXPECT_EQ(FtoC(32, true), 0);
  EXPECT_EQ(FtoC(212, true), 100);
  EXPECT_EQ(FtoC(0, true), -17);
  EXPECT_EQ(FtoC(-40, true), -40);
  EXPECT_EQ(FtoC(482, true), 250);
  EXPECT_EQ(CtoF(0, true), 32);
  EXPECT_EQ(CtoF(100, true), 212);
  EXPECT_EQ(CtoF(-1, true), 31);
  EXPECT_EQ(CtoF(250, true), 482);
  EXPECT_EQ(CtoF(37, true), 99);
  EXPECT_EQ(CtoF(-17, true), 2);
  EXPECT_EQ(CtoF(std::numeric_limits<int>::max(), true), std::numeric_limits<int>::max());
}

TEST(TemperatureTest, FahrenheitPassesThrough) {
  for (int t : {-40, 0, 32, 212, 255, 482}) {
    EXPECT_EQ(FtoC(t, false), t);
    EXPECT_EQ(CtoF(t, false), t);
  }
}

TEST(TemperatureTest, RepeatedCelsiusReadAndWriteDoesNotDriftAboveFreezing) {
  // Celsius drops fractions, so one read and write may lower a limit by a
  // degree F; after that the value must stay put however often the user reads
  // and programs again.
  for (int f = 32; f <= 255; ++f) {
    int once = CtoF(FtoC(f, true), true);
    EXPECT_LE(f - once, 1) << f;
    EXPECT_GE(f - once, 0) << f;
    EXPECT_EQ(CtoF(FtoC(once, true), true), once) << f;
  }
}

TEST(HexTest, Dec2HexIsTwoRawBytesHighFirst) {
  EXPECT_EQ(Dec2Hex(0), std::string("\0\0", 2));
  EXPECT_EQ(Dec2Hex(128), std::string("\x00\x80", 2));
  EXPECT_EQ(Dec2Hex(256), std::string("\x01\x00", 2));
  EXPECT_EQ(Dec2Hex(65535), "\xFF\xFF");
  EXPECT_EQ(Dec2Hex(70000), "\xFF\xFF");
  EXPECT_EQ(Dec2Hex(-5), std::string("\0\0", 2));
}

TEST(HexTest, Hex2DecReadsTwoOrFourDigits) {
  EXPECT_EQ(Hex2Dec("ff"), 255);
  EXPECT_EQ(Hex2Dec("FF"), 255);
  EXPECT_EQ(Hex2Dec("0a"), 10);
  EXPECT_EQ(Hex2Dec("e0ff"), 57599);
  EXPECT_EQ(Hex2Dec("abc"), 0);
  EXPECT_EQ(Hex2Dec(""), 0);
  EXPECT_EQ(Hex2Dec("zz"), 0);
  EXPECT_EQ(Hex2Dec("z9"), 9);
}

TEST(HexTest, HexDataToStringTakesPairs) {
  EXPECT_EQ(HexDataToString("414"), "A");
  EXPECT_EQ(HexDataToString(""), "");
  EXPECT_EQ(HexDataToString("00ff7f"), std::string("\x00\xff\x7f", 3));
}

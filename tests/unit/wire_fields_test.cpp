#include "unit/wire_fields.h"

#include <gtest/gtest.h>

#include "unit/bytes.h"

#include <cmath>
#include <limits>

#include "platform/valstr.h"

using namespace unit;
using unittest::ThroughControl;

TEST(VoltFieldTest, ExamplesAndEnds) {
  EXPECT_EQ(VoltsShown(255), 5.0);
  EXPECT_EQ(VoltsShown(1), 0.01);
  EXPECT_EQ(VoltsShown(23), 0.45);
  EXPECT_EQ(VoltByte(2.5), 128);
  EXPECT_EQ(VoltByte(0.45), 23);
  EXPECT_EQ(VoltByte(0), 0);
  EXPECT_EQ(VoltByte(5), 255);
  EXPECT_EQ(VoltByte(5.01), 255);  // above 5 V saturates instead of wrapping to 0
  EXPECT_EQ(VoltByte(12), 255);
  EXPECT_EQ(VoltByte(-1), 0);
}

TEST(VoltFieldTest, EveryCountSurvivesDisplayAndWriteBack) {
  for (int count = 0; count <= 255; ++count) {
    EXPECT_EQ(VoltByte(ThroughControl(VoltsShown(count))), count) << count;
  }
}

TEST(TenthsFieldTest, EveryWordSurvivesDisplayAndWriteBack) {
  for (int count = 0; count <= 65535; ++count) {
    ASSERT_EQ(TenthsWord(ThroughControl(TenthsShown(count))), count) << count;
  }
  for (int count = 0; count <= 255; ++count) {
    EXPECT_EQ(TenthsByte(ThroughControl(TenthsShown(count))), count) << count;
  }
}

TEST(TenthsFieldTest, TruncatesAndSaturates) {
  EXPECT_EQ(TenthsByte(14.7), 147);
  EXPECT_EQ(TenthsByte(14.79), 147);
  EXPECT_EQ(TenthsByte(25.5), 255);
  EXPECT_EQ(TenthsByte(25.6), 255);  // would wrap to 0
  EXPECT_EQ(TenthsByte(-3), 0);
  EXPECT_EQ(TenthsWord(6553.5), 65535);
  EXPECT_EQ(TenthsWord(6553.6), 65535);
  EXPECT_EQ(TenthsWord(-0.5), 0);
  EXPECT_EQ(TenthsWord(std::nan("")), 0);
}

TEST(WholeFieldTest, SaturatesBytesAndWords) {
  EXPECT_EQ(ByteField(255.9), 255);
  EXPECT_EQ(ByteField(256), 255);
  EXPECT_EQ(ByteField(-1), 0);
  EXPECT_EQ(WordField(7500.9), 7500);
  EXPECT_EQ(WordField(65536), 65535);
  EXPECT_EQ(WordField(1e300), 65535);
  EXPECT_EQ(WordField(-1e300), 0);
  EXPECT_EQ(TruncToInt(-2.9), -2);
  EXPECT_EQ(TruncToInt(std::numeric_limits<double>::infinity()), std::numeric_limits<int>::max());
}

TEST(SelectionFieldTest, IndexPlusOneAndBareStartPage) {
  EXPECT_EQ(SelectionByte(0), 1);
  EXPECT_EQ(SelectionByte(11), 12);
  EXPECT_EQ(SelectionByte(-1), 0);
  EXPECT_EQ(StartPageByte(0), 0);
  EXPECT_EQ(StartPageByte(6), 6);
  EXPECT_EQ(StartPageByte(-1), 0);  // no selection must not go out as 255
}

TEST(NameFieldTest, ExactlyThreeBytes) {
  EXPECT_EQ(NameBytes("AB"), "AB ");
  EXPECT_EQ(NameBytes(""), "   ");
  EXPECT_EQ(NameBytes("EGT"), "EGT");
  EXPECT_EQ(NameBytes("BOOST"), "BOO");
  // Characters beyond one byte become "?" one for one: the request keeps its size.
  EXPECT_EQ(NameBytes("\xE2\x82\xAC"
                      "1"),
            "?1 ");                                    // euro sign
  EXPECT_EQ(NameBytes("\xF0\x9F\x94\xA5xyz"), "?xy");  // four-byte character
  EXPECT_EQ(NameBytes("\xC3\x96l"), "\xD6l ");         // O umlaut is one byte
  EXPECT_EQ(NameBytes("\xC3"), "?  ");                 // cut sequence
  EXPECT_EQ(NameBytes("\x80\x80\x80\x80"), "???");     // stray continuation bytes
}

TEST(NameFieldTest, ReadNamesDecodeByteForByteAndWriteBackUnchanged) {
  EXPECT_EQ(NameText("AB "), "AB ");
  EXPECT_EQ(NameText("\xD6l "), "\xC3\x96l ");
  for (int b = 0; b <= 255; ++b) {
    std::string bytes = {static_cast<char>(b), 'x', ' '};
    EXPECT_EQ(NameBytes(NameText(bytes)), bytes) << b;
  }
}

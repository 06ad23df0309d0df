#include "unit/command_set.h"

#include <gtest/gtest.h>

#include "unit/bytes.h"

using namespace unit;
using unittest::B;

namespace {
QueuedRequest Ok(std::string text) {
  return QueuedRequest{PacketTypeOK, std::move(text)};
}
}  // namespace

TEST(CommandSetTest, FixedRequests) {
  EXPECT_EQ(kHello, (QueuedRequest{PacketTypeHello, "VV"}));
  EXPECT_EQ(kItemsDone, Ok("weee"));
  EXPECT_EQ(kTablesDone, Ok("sssssss"));
  EXPECT_EQ(kInputsDone, Ok("wzs"));
}

TEST(CommandSetTest, FullReadIsThirteenReadsInOrder) {
  std::vector<QueuedRequest> reads = FullReadRequests();
  std::string order;
  for (const QueuedRequest& r : reads) {
    EXPECT_EQ(r.Type, PacketTypeRead);
    ASSERT_EQ(r.Final.size(), 2u);
    EXPECT_EQ(r.Final[0], 'r');
    order += r.Final[1];
  }
  EXPECT_EQ(order, "tdmpcwiheasuz");
  int lengths[] = {4, 2, 2, 3, 3, 6, 3, 3, 57, 7, 107, 91, 246};
  for (int i = 0; i < 13; ++i) EXPECT_EQ(kFullRead[i].ReplyBytes, lengths[i]) << i;
  EXPECT_EQ(FindRead('x'), nullptr);
  EXPECT_EQ(FindRead('z')->ReplyBytes, 246);
}

TEST(CommandSetTest, SettingsWrites) {
  EXPECT_EQ(WriteItem(PlaceNumber(2, 3), 7), Ok(B({'w', 'e', 20, 7})));
  EXPECT_EQ(WriteSystem(2, 0, true), Ok(B({'w', 't', 3, 0, 1})));
  EXPECT_EQ(WriteSystem(11, 6, false), Ok(B({'w', 't', 12, 6, 0})));
  EXPECT_EQ(WriteSystem(-1, -1, false), Ok(B({'w', 't', 0, 0, 0})));
  EXPECT_EQ(WriteLogSpeed(20), Ok(B({'w', 'd', 20})));
  EXPECT_EQ(WriteMapSensor(13), Ok(B({'w', 'm', 14})));
  EXPECT_EQ(WritePressureUnits(0, 3), Ok(B({'w', 'p', 1, 4})));
  EXPECT_EQ(WriteUnits(true, false), Ok(B({'w', 'c', 1, 0})));
  EXPECT_EQ(WriteThrottle(0.45, 4.5), Ok(B({'w', 'h', 23, 230})));
  EXPECT_EQ(WriteWideband(0, 0.45, 14.7), Ok(B({'w', 'w', 23, 147})));
  EXPECT_EQ(WriteWideband(1, 5, 20), Ok(B({'w', 'x', 255, 200})));
  EXPECT_EQ(WriteWidebandInput(1, false), Ok(B({'w', 'i', 2, 0})));
  EXPECT_EQ(WriteRpmLimit(7500), Ok(B({'w', 'a', 1, 0x1D, 0x4C})));
  EXPECT_EQ(WriteTempLimit(kCoolantLimit, 212), Ok(B({'w', 'a', 2, 212, 0})));
  EXPECT_EQ(WriteMapLimit(1702), Ok(B({'w', 'a', 3, 6, 166})));
  EXPECT_EQ(WriteTempLimit(kIntakeLimit, 99), Ok(B({'w', 'a', 4, 99, 0})));
}

TEST(CommandSetTest, WritesSaturateOutOfRangeValues) {
  EXPECT_EQ(WriteTempLimit(kCoolantLimit, 482), Ok(B({'w', 'a', 2, 255, 0})));
  EXPECT_EQ(WriteTempLimit(kIntakeLimit, -40), Ok(B({'w', 'a', 4, 0, 0})));
  EXPECT_EQ(WriteMapLimit(1.1e6), Ok(B({'w', 'a', 3, 255, 255})));
  EXPECT_EQ(WriteRpmLimit(-1), Ok(B({'w', 'a', 1, 0, 0})));
  EXPECT_EQ(WriteThrottle(6, -1), Ok(B({'w', 'h', 255, 0})));
  EXPECT_EQ(WriteWideband(0, 2.5, 30), Ok(B({'w', 'w', 128, 255})));
  EXPECT_EQ(WriteTableValue(1, 0, -14.7), Ok(B({'s', 5, 0, 0, 0})));
}

TEST(CommandSetTest, SensorTableWrites) {
  EXPECT_EQ(WriteTableVolts(1, 4, 2.5), Ok(B({'s', 1, 4, 128, 0})));
  EXPECT_EQ(WriteTableValue(1, 4, 15), Ok(B({'s', 5, 4, 0, 150})));
  EXPECT_EQ(WriteTableValue(4, 14, 6553.5), Ok(B({'s', 8, 14, 255, 255})));
  EXPECT_EQ(WriteTableName(1, "AB"), Ok(B({'s', 9, 'A', 'B', ' '})));
  EXPECT_EQ(WriteTableName(4, ""), Ok(B({'s', 12, ' ', ' ', ' '})));
  EXPECT_EQ(WriteTableName(2, "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC").Final.size(), 5u);
  EXPECT_EQ(WriteTableDecimals(0, true, false), Ok(B({'s', 13, 1, 0})));
  EXPECT_EQ(WriteTableDecimals(1, false, true), Ok(B({'s', 14, 0, 1})));
}

TEST(CommandSetTest, AnInputBlockLayout) {
  TableData t;
  for (int r = 0; r < kTableRows; ++r) {
    t.Volts[r] = r * 0.3;
    t.Values[r] = r * 100.5;
  }
  t.Name = "\xC3\xA4N5x";  // a-umlaut, N, 5, cut after three characters
  t.Decimals = true;
  QueuedRequest req = WriteAnInput(5, t);
  ASSERT_EQ(req.Final.size(), 52u);
  EXPECT_EQ(req.Type, PacketTypeOK);
  EXPECT_EQ(req.Final.substr(0, 3), B({'w', 'z', 5}));
  // Payload byte k of the block, counted from 1 after "wz" and the input number.
  auto at = [&](int k) { return static_cast<unsigned char>(req.Final[2 + k]); };
  for (int r = 0; r < kTableRows; ++r) EXPECT_EQ(at(3 * r + 2) * 256 + at(3 * r + 3), r * 1005);
  EXPECT_EQ(at(1), 0);
  EXPECT_EQ(at(4), 16);    // 0.3 V is 15.3 counts, rounded up
  EXPECT_EQ(at(43), 215);  // 4.2 V
  EXPECT_EQ(req.Final.substr(2 + 46, 3), B({0xE4, 'N', '5'}));
  EXPECT_EQ(at(49), 1);
}

#include "unit/reply_decode.h"

#include <gtest/gtest.h>

#include "unit/bytes.h"

using namespace unit;
using unittest::B;

TEST(ReplyDecodeTest, SystemReplyCarriesStartPagePlusTwo) {
  auto t = DecodeSystem(B({3, 2, 1}));
  ASSERT_TRUE(t);
  EXPECT_EQ(t->Sys, 2);
  EXPECT_EQ(t->StPage, 0);
  EXPECT_TRUE(t->progstyle);
  auto low = DecodeSystem(B({0, 0, 0}));
  ASSERT_TRUE(low);
  EXPECT_EQ(low->Sys, -1);
  EXPECT_EQ(low->StPage, -2);
  EXPECT_FALSE(low->progstyle);
}

TEST(ReplyDecodeTest, SingleSelections) {
  EXPECT_EQ(DecodeLogSpeed(B({17})), 17);
  EXPECT_EQ(DecodeMapSensor(B({14})), 13);
  auto p = DecodePressureUnits(B({1, 4}));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->vact, 0);
  EXPECT_EQ(p->prest, 3);
  auto c = DecodeUnits(B({7, 0}));
  ASSERT_TRUE(c);
  EXPECT_TRUE(c->usecelsius);
  EXPECT_FALSE(c->usekph);
}

TEST(ReplyDecodeTest, WidebandTakesBothVoltsThenBothRatios) {
  auto w = DecodeWideband(B({0, 255, 100, 200, 9}));
  ASSERT_TRUE(w);
  EXPECT_EQ(w->WList[0][0], 0.0);
  EXPECT_EQ(w->WList[1][0], 5.0);
  EXPECT_EQ(w->WList[0][1], 10.0);
  EXPECT_EQ(w->WList[1][1], 20.0);
}

TEST(ReplyDecodeTest, WidebandInputDemonOnlyByOneAndWriteBackOn255) {
  auto a = DecodeWidebandInput(B({2, 255}));
  ASSERT_TRUE(a);
  EXPECT_EQ(a->afrlist, 1);
  EXPECT_FALSE(a->demon);
  EXPECT_TRUE(a->WriteBack);
  auto b = DecodeWidebandInput(B({2, 7}));
  ASSERT_TRUE(b);
  EXPECT_FALSE(b->demon);
  EXPECT_FALSE(b->WriteBack);
  EXPECT_TRUE(DecodeWidebandInput(B({1, 1}))->demon);
}

TEST(ReplyDecodeTest, ThrottleVolts) {
  auto h = DecodeThrottle(B({23, 230}));
  ASSERT_TRUE(h);
  EXPECT_EQ(h->ltps, 0.45);
  EXPECT_EQ(h->utps, 4.5);
}

TEST(ReplyDecodeTest, ItemCodesByPlaceNumber) {
  std::string payload;
  for (int i = 1; i <= 56; ++i) payload.push_back(static_cast<char>(i + 100));
  auto e = DecodeItems(payload);
  ASSERT_TRUE(e);
  EXPECT_EQ((*e)[1], 101);
  EXPECT_EQ((*e)[20], 120);
  EXPECT_EQ((*e)[56], 156);
}

TEST(ReplyDecodeTest, LimitsExample) {
  auto a = DecodeLimits(B({0x1D, 0x4C, 212, 0x07, 0xF5, 100}));
  ASSERT_TRUE(a);
  EXPECT_EQ(a->rpm, 7500);
  EXPECT_EQ(a->ectF, 212);
  EXPECT_EQ(a->mapMbar, 2037);
  EXPECT_EQ(a->iatF, 100);
}

namespace {
// A main-table block: volts 0..14, then words 1000 + r high byte first.
std::string MainBlock(int voltBase) {
  std::string s;
  for (int r = 0; r < 15; ++r) s.push_back(static_cast<char>(voltBase + r));
  for (int r = 0; r < 15; ++r) {
    s.push_back(static_cast<char>((1000 + r) >> 8));
    s.push_back(static_cast<char>((1000 + r) & 0xFF));
  }
  return s;
}
}  // namespace

TEST(ReplyDecodeTest, MainTablesLayout) {
  std::string s = MainBlock(0) + MainBlock(100) + "O2 " + B({1}) + "ELD" + B({0}) + "EGR" + B({0}) +
                  "\xB0"
                  "C " +
                  B({9});
  ASSERT_EQ(s.size(), 106u);
  auto r = DecodeMainTables('s', s);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Tables[0].Volts[0], 0.0);
  EXPECT_EQ(r->Tables[0].Volts[14], 0.27);  // count 14
  EXPECT_EQ(r->Tables[0].Values[3], 100.3);
  EXPECT_EQ(r->Tables[1].Volts[0], 1.96);  // count 100
  EXPECT_EQ(r->Tables[1].Values[14], 101.4);
  ASSERT_TRUE(r->HasNames);
  EXPECT_EQ(r->Names[0], "O2 ");
  EXPECT_EQ(r->Names[3],
            "\xC2\xB0"
            "C ");  // degree sign, byte for byte
  EXPECT_EQ(r->Decimals, (std::array<bool, 4>{true, false, false, true}));

  auto u = DecodeMainTables('u', s.substr(0, 90));
  ASSERT_TRUE(u);
  EXPECT_FALSE(u->HasNames);
  EXPECT_EQ(u->Tables[1].Values[14], 101.4);
}

TEST(ReplyDecodeTest, AnInputsFifthBlockAtItsOffsets) {
  std::string z(245, '\0');
  // AN5: payload bytes 197..241 are its rows, 242..244 its name, 245 its flag.
  for (int r = 0; r < 15; ++r) {
    z[197 - 1 + 3 * r] = static_cast<char>(255);
    z[198 - 1 + 3 * r] = static_cast<char>(0xFF);
    z[199 - 1 + 3 * r] = static_cast<char>(r);
  }
  z.replace(242 - 1, 3, "AN5");
  z[245 - 1] = 1;
  auto an = DecodeAnInputs(z);
  ASSERT_TRUE(an);
  EXPECT_EQ((*an)[4].Volts[0], 5.0);
  EXPECT_EQ((*an)[4].Values[14], (0xFF00 + 14) / 10.0);
  EXPECT_EQ((*an)[4].Name, "AN5");
  EXPECT_TRUE((*an)[4].Decimals);
  EXPECT_EQ((*an)[3].Volts[14], 0.0);
  EXPECT_EQ((*an)[3].Name, std::string(3, '\0'));
  EXPECT_FALSE((*an)[3].Decimals);
}

TEST(ReplyDecodeTest, WrongLengthsAreRefused) {
  EXPECT_FALSE(DecodeSystem(B({3, 2})));
  EXPECT_FALSE(DecodeSystem(B({3, 2, 1, 0})));
  EXPECT_FALSE(DecodeLogSpeed(""));
  EXPECT_FALSE(DecodeWideband(B({0, 0, 0, 0})));
  EXPECT_FALSE(DecodeItems(std::string(55, 'x')));
  EXPECT_FALSE(DecodeLimits(std::string(7, 'x')));
  EXPECT_FALSE(DecodeMainTables('s', std::string(90, 'x')));
  EXPECT_FALSE(DecodeMainTables('u', std::string(106, 'x')));
  EXPECT_FALSE(DecodeMainTables('t', std::string(3, 'x')));
  EXPECT_FALSE(DecodeAnInputs(std::string(244, 'x')));
}

#include "unit/write_sequence.h"

#include <gtest/gtest.h>

#include "unit/bytes.h"

#include <cmath>

#include "platform/valstr.h"
#include "unit/reply_decode.h"
#include "unit/wire_fields.h"

using namespace unit;
using unittest::B;
using unittest::ThroughControl;

namespace {

TableData ThroughControls(const TableData& t) {
  TableData out = t;
  for (int r = 0; r < kTableRows; ++r) {
    out.Volts[r] = ThroughControl(t.Volts[r]);
    out.Values[r] = ThroughControl(t.Values[r]);
  }
  return out;
}

// A window right after a full read of a unit whose main tables hold awkward
// values (every volt count and tenths that are no round decimals).
struct AfterRead {
  WindowSettings s;
  OptArray opt2{};
  SensorsArray sensors{};

  AfterRead() {
    std::string sPayload, uPayload;
    for (int t = 0; t < 4; ++t) {
      std::string& p = t < 2 ? sPayload : uPayload;
      for (int r = 0; r < 15; ++r) p.push_back(static_cast<char>(17 * r + t));
      for (int r = 0; r < 15; ++r) {
        int w = 4369 * r + 7 * t;
        p.push_back(static_cast<char>(w >> 8));
        p.push_back(static_cast<char>(w & 0xFF));
      }
    }
    sPayload += "O2 " + B({1}) + "ELD" + B({0}) + "EGR" + B({1}) + "B6 " + B({0});
    auto sr = DecodeMainTables('s', sPayload);
    auto ur = DecodeMainTables('u', uPayload);
    for (int t = 0; t < 4; ++t) {
      const TableData& shown = t < 2 ? sr->Tables[t] : ur->Tables[t - 2];
      RememberTable(sensors, 2 * t + 1, shown);
      s.Main[t] = ThroughControls(shown);
      s.Main[t].Name = sr->Names[t];
      s.Main[t].Decimals = sr->Decimals[t];
    }
    for (int i = 1; i <= kPlaces; ++i) s.Opt[i] = opt2[i] = i % 9;
    s.Sys = 2;
    s.StPage = 0;
    s.DLSlider = 5;
    s.maps = 0;
    s.vact = 1;
    s.prest = 2;
    s.ltps = 0.45;
    s.utps = 4.5;
    s.WList = {{{0.45, 14.7}, {5, 20}}};
    s.afrlist = 0;
    s.rpmw = 7500;
    s.ectw = 212;
    s.mapw = 2037;
    s.iatw = 100;
  }
};

std::vector<std::string> Texts(const std::vector<QueuedRequest>& reqs) {
  std::vector<std::string> out;
  for (const QueuedRequest& r : reqs) out.push_back(r.Final);
  return out;
}

// Index of the first request equal to `final`, or -1.
int IndexOf(const std::vector<QueuedRequest>& reqs, const std::string& final) {
  for (std::size_t i = 0; i < reqs.size(); ++i)
    if (reqs[i].Final == final) return static_cast<int>(i);
  return -1;
}

}  // namespace

TEST(WriteSequenceTest, RightAfterAReadSendsOnlyTheFixedSequence) {
  AfterRead w;
  std::vector<QueuedRequest> reqs = BuildWrite(w.s, w.opt2, w.sensors);
  ASSERT_EQ(reqs.size(), 29u);
  std::vector<std::string> heads;
  for (const QueuedRequest& r : reqs) {
    std::string head = r.Final.substr(0, 2);
    if (head[0] == 's' && head != "ss") head = "s" + std::to_string(r.Final[1]);
    heads.push_back(head);
  }
  std::vector<std::string> expected = {
      "we",  "wt",  "wd",  "wm",  "wp",  "wc", "wh", "ww", "wx", "wi", "wa", "wa", "wa", "wa", "s9",
      "s10", "s11", "s12", "s13", "s14", "ss", "wz", "wz", "wz", "wz", "wz", "wz", "rs", "ru"};
  EXPECT_EQ(heads, expected);
  EXPECT_EQ(reqs[0].Final, "weee");
  EXPECT_EQ(reqs[1].Final, B({'w', 't', 3, 0, 0}));
  EXPECT_EQ(reqs[7].Final, B({'w', 'w', 23, 147}));
  EXPECT_EQ(reqs[8].Final, B({'w', 'x', 255, 200}));
  EXPECT_EQ(reqs[10].Final, B({'w', 'a', 1, 0x1D, 0x4C}));
  EXPECT_EQ(reqs[12].Final, B({'w', 'a', 3, 0x07, 0xF5}));
  EXPECT_EQ(reqs[14].Final, B({'s', 9, 'O', '2', ' '}));
  EXPECT_EQ(reqs[18].Final, B({'s', 13, 1, 0}));
  EXPECT_EQ(reqs[19].Final, B({'s', 14, 1, 0}));
  EXPECT_EQ(reqs[20].Final, "sssssss");
  for (int n = 1; n <= 5; ++n) EXPECT_EQ(reqs[20 + n].Final.size(), 52u);
  EXPECT_EQ(reqs[26].Final, "wzs");
  for (std::size_t i = 0; i < reqs.size(); ++i)
    EXPECT_EQ(reqs[i].Type, i < 27 ? PacketTypeOK : PacketTypeRead) << i;
}

TEST(WriteSequenceTest, ChangedPlaceGoesFirstAndOnlyOnce) {
  AfterRead w;
  w.s.Opt[PlaceNumber(2, 3)] = 7;
  w.s.Opt[56] = 200;
  std::vector<QueuedRequest> first = BuildWrite(w.s, w.opt2, w.sensors);
  ASSERT_EQ(first.size(), 31u);
  EXPECT_EQ(first[0].Final, B({'w', 'e', 20, 7}));
  EXPECT_EQ(first[1].Final, B({'w', 'e', 56, 200}));
  EXPECT_EQ(first[2].Final, "weee");
  EXPECT_EQ(w.opt2[20], 7);
  std::vector<QueuedRequest> second = BuildWrite(w.s, w.opt2, w.sensors);
  EXPECT_EQ(second.size(), 29u);
  EXPECT_EQ(second[0].Final, "weee");
}

TEST(WriteSequenceTest, ChangedTableCellsGoAfterTheLimitsInRowOrder) {
  AfterRead w;
  w.s.Main[0].Values[4] = 15;   // O2 row 4 value
  w.s.Main[0].Volts[4] = 2.5;   // O2 row 4 volts
  w.s.Main[3].Volts[2] = 0.45;  // B6 row 2 volts
  std::vector<QueuedRequest> reqs = BuildWrite(w.s, w.opt2, w.sensors);
  ASSERT_EQ(reqs.size(), 32u);
  int lastLimit = IndexOf(reqs, B({'w', 'a', 4, 100, 0}));
  ASSERT_EQ(lastLimit, 13);
  EXPECT_EQ(reqs[14].Final, B({'s', 4, 2, 23, 0}));
  EXPECT_EQ(reqs[15].Final, B({'s', 1, 4, 128, 0}));
  EXPECT_EQ(reqs[16].Final, B({'s', 5, 4, 0, 150}));
  EXPECT_EQ(reqs[17].Final, B({'s', 9, 'O', '2', ' '}));
  // Sensors is only refreshed by the read-back, so a second write repeats the rows.
  EXPECT_EQ(BuildWrite(w.s, w.opt2, w.sensors).size(), 32u);
}

TEST(WriteSequenceTest, LimitsInTheUnitsShown) {
  AfterRead w;
  w.s.mappop = 1;
  w.s.mapw = 10;
  w.s.usecelsius = true;
  w.s.ectw = 100;
  w.s.iatw = 37.9;
  std::vector<QueuedRequest> reqs = BuildWrite(w.s, w.opt2, w.sensors);
  EXPECT_EQ(reqs[5].Final, B({'w', 'c', 1, 0}));
  EXPECT_EQ(reqs[11].Final, B({'w', 'a', 2, 212, 0}));
  EXPECT_EQ(reqs[12].Final, B({'w', 'a', 3, 6, 166}));
  EXPECT_EQ(reqs[13].Final, B({'w', 'a', 4, 99, 0}));

  w.s.ectw = 250;    // 482 F does not fit a byte
  w.s.mapw = 16000;  // over a 16-bit mbar
  w.s.iatw = -100;   // below 0 F
  w.s.rpmw = 70000;
  reqs = BuildWrite(w.s, w.opt2, w.sensors);
  EXPECT_EQ(reqs[10].Final, B({'w', 'a', 1, 255, 255}));
  EXPECT_EQ(reqs[11].Final, B({'w', 'a', 2, 255, 0}));
  EXPECT_EQ(reqs[12].Final, B({'w', 'a', 3, 255, 255}));
  EXPECT_EQ(reqs[13].Final, B({'w', 'a', 4, 0, 0}));
}

TEST(WriteSequenceTest, NamesAreThreeBytesWhateverTheText) {
  AfterRead w;
  w.s.Main[0].Name = "AB";
  w.s.Main[1].Name = "";
  w.s.Main[2].Name = "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC";  // three euro signs
  w.s.An[0].Name =
      "\xC3\x9C"
      "ber";
  std::vector<QueuedRequest> reqs = BuildWrite(w.s, w.opt2, w.sensors);
  EXPECT_EQ(reqs[14].Final, B({'s', 9, 'A', 'B', ' '}));
  EXPECT_EQ(reqs[15].Final, B({'s', 10, ' ', ' ', ' '}));
  EXPECT_EQ(reqs[16].Final, B({'s', 11, '?', '?', '?'}));
  EXPECT_EQ(reqs[21].Final.size(), 52u);
  EXPECT_EQ(reqs[21].Final.substr(48, 3), B({0xDC, 'b', 'e'}));
}

TEST(WriteSequenceTest, MissingSelectionsGoOutAsZero) {
  AfterRead w;
  w.s.Sys = w.s.StPage = w.s.maps = w.s.vact = w.s.prest = w.s.afrlist = -1;
  std::vector<QueuedRequest> reqs = BuildWrite(w.s, w.opt2, w.sensors);
  EXPECT_EQ(reqs[1].Final, B({'w', 't', 0, 0, 0}));
  EXPECT_EQ(reqs[3].Final, B({'w', 'm', 0}));
  EXPECT_EQ(reqs[4].Final, B({'w', 'p', 0, 0}));
  EXPECT_EQ(reqs[9].Final, B({'w', 'i', 0, 0}));
}

TEST(WriteSequenceTest, ForgottenPlacesAndCellsAreSentAgain) {
  AfterRead w;
  w.s.Opt[3] = 50;
  w.s.Main[1].Values[7] = 1;
  std::vector<QueuedRequest> first = BuildWrite(w.s, w.opt2, w.sensors);
  ASSERT_EQ(first[0].Final, B({'w', 'e', 3, 50}));
  // The write broke off before the unit acknowledged these three.
  ForgetUnacknowledged(first[0].Final, w.opt2, w.sensors);
  ForgetUnacknowledged(B({'s', 6, 7, 0, 10}), w.opt2, w.sensors);
  ForgetUnacknowledged(B({'s', 3, 0, 2, 0}), w.opt2, w.sensors);
  // Requests sent on every write, and nonsense, change nothing.
  for (const std::string& other :
       {std::string("weee"), B({'s', 9, 'A', 'B', 'C'}), B({'s', 13, 1, 1}), B({'w', 'e', 0, 1}),
        B({'s', 1, 15, 0, 0}), std::string("s")})
    ForgetUnacknowledged(other, w.opt2, w.sensors);
  EXPECT_EQ(w.opt2[3], kUnknownCode);
  EXPECT_TRUE(std::isnan(w.sensors[4][8]));
  EXPECT_TRUE(std::isnan(w.sensors[5][1]));
  std::vector<QueuedRequest> again = BuildWrite(w.s, w.opt2, w.sensors);
  EXPECT_EQ(Texts(again)[0], B({'w', 'e', 3, 50}));
  EXPECT_NE(IndexOf(again, B({'s', 6, 7, 0, 10})), -1);
  EXPECT_NE(IndexOf(again, B({'s', 3, 0, 2, 0})), -1);
  EXPECT_EQ(again.size(), 29u + 3u);
}
